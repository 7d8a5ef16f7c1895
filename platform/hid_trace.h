// The exchange trace: every transfer with a device, one line each, in a text file the
// user can attach to a bug report.
//
// A run that talks to a device appends to the file a header line, then one line per
// exchange:
//
//   # qvm-trace 1 start=2026-12-06T23:14:07.123Z program=qvmctl
//   12.345 > setf sim#vid_0c45&pid_7040&mi_01#d0i1 0002000100...
//
// TIME is milliseconds since the header's start (monotonic clock, three decimals);
// DIR is '>' for bytes sent to the device and '<' for bytes that came from it; KIND is
// setf/getf (feature report set/get), write (output report), read (input report) or
// str (an indexed string); PATH is the interface's device path; HEX the bytes, byte 0
// the report ID ('-' when none). An optional last field says how the transfer ended
// when it failed ("failed" or "gone"), and for str which string it was ("idx=N").
// Several runs may append to one file; each starts with its own header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "base/unique_fd.h"
#include "platform/clock.h"
#include "platform/hid.h"

namespace qvm {

enum class TraceDirection { ToDevice, FromDevice };
enum class TraceKind { SetFeature, GetFeature, Write, Read, String };

// One exchange as a line of the trace holds it.
struct TraceRecord {
    double ms = 0;
    TraceDirection direction = TraceDirection::ToDevice;
    TraceKind kind = TraceKind::SetFeature;
    std::string path;
    std::vector<uint8_t> bytes;
    std::string outcome;   // empty: the transfer succeeded; else "failed" or "gone"
    int stringIndex = -1;  // str lines only

    bool operator==(const TraceRecord&) const = default;
};

// The line of `record`, without the line break.
std::string FormatTraceLine(const TraceRecord& record);
// The record a trace line holds. Header lines ('#') and blank lines are not records:
// they give nullopt. A line that is neither gives an error of kind BadInput that says
// what is wrong with it.
Result<std::optional<TraceRecord>> ParseTraceLine(std::string_view line);

// A trace read back: its records in file order, the headers, and the damaged lines.
struct TraceFileLine {
    int number = 0;  // from 1
    std::string text;
};
struct ParsedTrace {
    std::vector<TraceRecord> records;
    std::vector<int> recordLines;        // the line number of each record
    std::vector<TraceFileLine> headers;  // the '#' lines
    std::vector<TraceFileLine> damaged;  // text: why the line was skipped
};
Result<ParsedTrace> ReadTraceFile(const std::string& file);

// Writes exchanges to the trace file. The file is opened (for appending) and the header
// written at the first exchange, so a run that never talks to a device leaves no trace.
// Thread-safe: one lock around each line; each line goes to the file in one write.
// When the file cannot be opened or a write fails (a full disk), `notes` is told once,
// and tracing stops: the program goes on without it. `notes` runs with the log's lock
// held, on the thread of the exchange: it must not trace.
class TraceLog {
  public:
    using Notes = std::function<void(const std::string& message)>;
    TraceLog(std::string file, std::string program, Notes notes,
             Clock& clock = SystemClock::Instance());
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    void Record(TraceDirection direction, TraceKind kind, const std::string& path,
                std::span<const uint8_t> bytes, std::string_view outcome = {},
                int stringIndex = -1);
    // Whether tracing stopped after a failure.
    bool Stopped() const;

  private:
    void StopLocked(const std::string& why);
    bool WriteLocked(const std::string& line);

    const std::string file_;
    const std::string program_;
    const Notes notes_;
    Clock& clock_;
    const Clock::TimePoint start_;
    const int64_t wallStartMs_;  // milliseconds since the epoch at construction
    mutable std::mutex mutex_;   // leaf
    UniqueFd fd_;                // guarded by mutex_; open after the first exchange
    bool stopped_ = false;       // guarded by mutex_
};

// `inner` with every exchange of its handles written to `log`; `inner` itself when `log`
// is null.
std::unique_ptr<HidBackend> TraceBackend(std::unique_ptr<HidBackend> inner,
                                         std::shared_ptr<TraceLog> log);
// The backend a tracing backend forwards to; `backend` itself when it does not trace.
HidBackend& UntracedBackend(HidBackend& backend);

}  // namespace qvm
