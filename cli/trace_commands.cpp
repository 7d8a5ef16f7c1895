// qvmctl commands for exchange traces (--trace FILE, QVM_TRACE): show a trace in the
// terms of the device command set, and replay its writes onto simulated devices.
#include <cstdio>
#include <ostream>

#include "cli/commands.h"
#include "cli/qvmctl.h"
#include "device/trace_decode.h"
#include "platform/bridge_protocol.h"
#include "sim/sim_replay.h"

namespace qvm::cli {
namespace {

Result<ParsedTrace> ReadTrace(CommandContext& c) {
    auto trace = ReadTraceFile(c.args.at(0));
    if (!trace) return trace.error();
    for (const TraceFileLine& line : trace->damaged) {
        c.err << "qvmctl: " << Shown(c.args.at(0)) << " line " << line.number << ": "
              << Shown(line.text) << "; skipped\n";
    }
    return trace;
}

// One line per exchange: time, direction, command and its arguments, the bytes; the
// interface on a line of its own whenever it changes, the headers as they come.
int RunTraceShow(CommandContext& c) {
    auto trace = ReadTrace(c);
    if (!trace) return Fail(c.err, ExitStatusOf(trace.kind()), trace.message());
    TraceDecoder decoder;
    std::string interface;
    std::size_t header = 0;
    for (std::size_t i = 0; i < trace->records.size(); ++i) {
        while (header < trace->headers.size() &&
               trace->headers[header].number < trace->recordLines[i]) {
            c.out << Shown(trace->headers[header++].text) << '\n';
            interface.clear();
        }
        const TraceRecord& record = trace->records[i];
        if (record.path != interface) {
            interface = record.path;
            c.out << "interface " << Shown(interface) << '\n';
        }
        const DecodedExchange decoded = decoder.Decode(record);
        char time[64];
        std::snprintf(time, sizeof time, "%10.3f", record.ms);
        c.out << time << (record.direction == TraceDirection::ToDevice ? " > " : " < ")
              << decoded.name << (decoded.args.empty() ? "" : " " + decoded.args) << "  "
              << EncodeBridgeHex(record.bytes) << '\n';
    }
    for (; header < trace->headers.size(); ++header) {
        c.out << Shown(trace->headers[header].text) << '\n';
    }
    return kExitOk;
}

int RunTraceReplay(CommandContext& c) {
    const bool simulated = c.options.simulate || c.options.backendSource ||
                           c.options.backend == "sim" || c.options.backend.starts_with("sim:");
    if (!simulated) {
        return Fail(c.err, kExitUsage,
                    "trace replay writes device memory: run it on simulated devices "
                    "(--simulate=MODEL)");
    }
    auto trace = ReadTrace(c);
    if (!trace) return Fail(c.err, ExitStatusOf(trace.kind()), trace.message());
    auto session = Session::Open(c.options);
    if (!session) return Fail(c.err, kExitUsage, session.message());
    auto replayed = ReplayTrace(*trace, (*session)->Backend());
    if (!replayed) return Fail(c.err, ExitStatusOf(replayed.kind()), replayed.message());
    for (const std::string& line : replayed->interfaces) c.out << Shown(line) << '\n';
    c.out << replayed->sent << " reports replayed";
    if (replayed->skipped > 0) {
        c.out << ", " << replayed->skipped << " the traced device did not take skipped";
    }
    c.out << '\n';
    if (Status kept = (*session)->Backend().TakeLostWrite(); !kept) {
        return Fail(c.err, ExitStatusOf(kept.kind()), kept.message());
    }
    return kExitOk;
}

}  // namespace

void AddTraceCommands(std::vector<CommandSpec>& commands) {
    commands.push_back(
        {"trace show", "FILE", "show a trace of device exchanges",
         "Prints the exchanges a trace (--trace FILE or QVM_TRACE) holds, one a line: the\n"
         "time in ms since the run started, '>' to the device or '<' from it, the command\n"
         "of the device command set (with its address and length, or its parameters), and\n"
         "the bytes. Feature reports read back show as the reply to the command before them\n"
         "or as status polls. Unknown commands show as 'unknown' and their command byte;\n"
         "damaged lines are reported on standard error with their line number and skipped.\n",
         1, 1, RunTraceShow});
    commands.push_back(
        {"trace replay", "FILE", "replay a trace's writes onto simulated devices",
         "Sends the feature reports and output reports the trace's run sent, in order, to\n"
         "the simulated devices of the same vendor, product and interface (run it with\n"
         "--simulate=MODEL of the traced model): a fresh simulated device then ends with\n"
         "the memory the traced device had. Reports the traced device did not take are\n"
         "skipped. Refused on devices that are not simulated.\n",
         1, 1, RunTraceReplay});
}

}  // namespace qvm::cli
