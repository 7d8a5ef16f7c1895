#include "sim/sim_replay.h"

#include <map>
#include <memory>

namespace qvm {
namespace {

bool IsSent(const TraceRecord& record) {
    return record.direction == TraceDirection::ToDevice &&
           (record.kind == TraceKind::SetFeature || record.kind == TraceKind::Write);
}

}  // namespace

std::string InterfaceKey(const std::string& path) {
    const std::size_t first = path.find('#');
    if (first == std::string::npos) return {};
    const std::size_t second = path.find('#', first + 1);
    if (second == std::string::npos) return {};
    const std::string key = path.substr(first + 1, second - first - 1);
    return key.starts_with("vid_") ? key : std::string();
}

Result<ReplaySummary> ReplayTrace(const ParsedTrace& trace, HidBackend& backend) {
    auto present = backend.Enumerate();
    if (!present) return present.error();
    // Traced path -> the path of the same interface here; every one is found before the
    // first report goes out, so a trace of another model changes nothing.
    std::map<std::string, std::string> target;
    for (const TraceRecord& record : trace.records) {
        if (!IsSent(record) || target.count(record.path)) continue;
        const std::string key = InterfaceKey(record.path);
        for (const HidDeviceInfo& info : *present) {
            if (!key.empty() && InterfaceKey(info.path) == key) {
                target[record.path] = info.path;
                break;
            }
        }
        if (!target.count(record.path)) {
            return MakeError(ErrorKind::BadInput, "no device here has the traced interface " +
                                                      record.path + " (simulate the traced model)");
        }
    }
    ReplaySummary summary;
    std::map<std::string, std::unique_ptr<HidHandle>> handles;
    for (const auto& [traced, here] : target) {
        auto handle = backend.Open(here);
        if (!handle) return handle.error();
        handles[traced] = std::move(handle).value();
        summary.interfaces.push_back(traced + " -> " + here);
    }
    for (std::size_t i = 0; i < trace.records.size(); ++i) {
        const TraceRecord& record = trace.records[i];
        if (!IsSent(record)) continue;
        if (!record.outcome.empty()) {
            ++summary.skipped;
            continue;
        }
        HidHandle& handle = *handles.at(record.path);
        const bool ok = record.kind == TraceKind::SetFeature ? handle.SetFeature(record.bytes)
                                                             : handle.Write(record.bytes);
        if (!ok) {
            const HidFailure failure = handle.LastFailure();
            const ErrorKind kind =
                failure.kind == HidFailureKind::Gone ? ErrorKind::DeviceGone : ErrorKind::Io;
            return MakeError(kind, "line " + std::to_string(trace.recordLines.at(i)) + ": " +
                                       target.at(record.path) + " did not take the report" +
                                       (failure.reason.empty() ? "" : ": " + failure.reason));
        }
        ++summary.sent;
    }
    return summary;
}

}  // namespace qvm
