#include "platform/hid_trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/bridge_protocol.h"

namespace qvm {
namespace {

constexpr std::string_view kHeaderTag = "# qvm-trace 1";
constexpr std::string_view kStringIndexField = "idx=";
constexpr double kMaxTraceMs = 1e12;

struct KindName {
    TraceKind kind;
    std::string_view name;
};
constexpr std::array<KindName, 5> kKindNames{{
    {TraceKind::SetFeature, "setf"},
    {TraceKind::GetFeature, "getf"},
    {TraceKind::Write, "write"},
    {TraceKind::Read, "read"},
    {TraceKind::String, "str"},
}};
constexpr std::array<std::string_view, 2> kOutcomes{"failed", "gone"};

std::string_view NameOf(TraceKind kind) {
    for (const KindName& entry : kKindNames) {
        if (entry.kind == kind) return entry.name;
    }
    return "?";
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t end = line.find(' ', at);
        const std::size_t stop = end == std::string_view::npos ? line.size() : end;
        if (stop > at) fields.push_back(line.substr(at, stop - at));
        at = stop + 1;
    }
    return fields;
}

Error Damaged(std::string why) {
    return MakeError(ErrorKind::BadInput, std::move(why));
}

// "2026-12-06T23:14:07.123Z" for milliseconds since the epoch.
std::string UtcText(int64_t epochMs) {
    const std::time_t seconds = static_cast<std::time_t>(epochMs / 1000);
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900,
                  parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<int>(epochMs % 1000));
    return text;
}

std::string_view OutcomeOf(const HidHandle& handle) {
    return handle.LastFailure().kind == HidFailureKind::Gone ? kOutcomes[1] : kOutcomes[0];
}

// A handle that forwards every call and writes each transfer to the log.
class TracingHandle final : public HidHandle {
  public:
    TracingHandle(std::unique_ptr<HidHandle> inner, std::string path, std::shared_ptr<TraceLog> log)
        : inner_(std::move(inner)), path_(std::move(path)), log_(std::move(log)) {}

    const HidCaps& Caps() const override { return inner_->Caps(); }

    bool GetFeature(std::span<uint8_t> buffer) override {
        const bool ok = inner_->GetFeature(buffer);
        if (ok) {
            log_->Record(TraceDirection::FromDevice, TraceKind::GetFeature, path_, buffer);
        } else {
            log_->Record(TraceDirection::FromDevice, TraceKind::GetFeature, path_, {},
                         OutcomeOf(*inner_));
        }
        return ok;
    }
    bool SetFeature(std::span<const uint8_t> report) override {
        return Sent(TraceKind::SetFeature, report, inner_->SetFeature(report));
    }
    bool Write(std::span<const uint8_t> report) override {
        return Sent(TraceKind::Write, report, inner_->Write(report));
    }
    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        const int n = inner_->Read(buffer, timeoutMs);
        // A wait that saw nothing is no exchange.
        if (n > 0) {
            log_->Record(TraceDirection::FromDevice, TraceKind::Read, path_,
                         buffer.first(static_cast<std::size_t>(n)));
        } else if (n < 0) {
            log_->Record(TraceDirection::FromDevice, TraceKind::Read, path_, {},
                         OutcomeOf(*inner_));
        }
        return n;
    }
    int ReadyFd() const override { return inner_->ReadyFd(); }
    std::optional<std::vector<uint8_t>> IndexedString(int index) override {
        auto text = inner_->IndexedString(index);
        log_->Record(TraceDirection::FromDevice, TraceKind::String, path_,
                     text ? std::span<const uint8_t>(*text) : std::span<const uint8_t>(),
                     text ? std::string_view() : kOutcomes[0], index);
        return text;
    }
    void CancelIo() override { inner_->CancelIo(); }
    HidFailure LastFailure() const override { return inner_->LastFailure(); }

  private:
    bool Sent(TraceKind kind, std::span<const uint8_t> report, bool ok) {
        log_->Record(TraceDirection::ToDevice, kind, path_, report,
                     ok ? std::string_view() : OutcomeOf(*inner_));
        return ok;
    }

    std::unique_ptr<HidHandle> inner_;
    const std::string path_;
    const std::shared_ptr<TraceLog> log_;
};

class TracingBackend final : public HidBackend {
  public:
    TracingBackend(std::unique_ptr<HidBackend> inner, std::shared_ptr<TraceLog> log)
        : inner_(std::move(inner)), log_(std::move(log)) {}

    Result<std::vector<HidDeviceInfo>> Enumerate() override { return inner_->Enumerate(); }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        auto handle = inner_->Open(path);
        if (!handle) return handle.error();
        return std::unique_ptr<HidHandle>(
            std::make_unique<TracingHandle>(std::move(handle).value(), path, log_));
    }
    std::vector<HidEvent> TakeEvents() override { return inner_->TakeEvents(); }
    int EventFd() const override { return inner_->EventFd(); }
    std::vector<std::string> LoadNotes() const override { return inner_->LoadNotes(); }
    Status TakeLostWrite() override { return inner_->TakeLostWrite(); }
    HidBackend& Inner() { return *inner_; }

  private:
    std::unique_ptr<HidBackend> inner_;
    const std::shared_ptr<TraceLog> log_;
};

}  // namespace

std::string FormatTraceLine(const TraceRecord& record) {
    char time[64];
    std::snprintf(time, sizeof time, "%.3f", record.ms);
    std::string line = time;
    line += record.direction == TraceDirection::ToDevice ? " > " : " < ";
    line += NameOf(record.kind);
    line += ' ';
    line += record.path;
    line += ' ';
    line += EncodeBridgeHex(record.bytes);
    if (!record.outcome.empty()) line += ' ' + record.outcome;
    if (record.stringIndex >= 0) {
        line += ' ';
        line += kStringIndexField;
        line += std::to_string(record.stringIndex);
    }
    return line;
}

Result<std::optional<TraceRecord>> ParseTraceLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.empty() || fields[0].front() == '#') return std::optional<TraceRecord>();
    if (fields.size() < 5) return Damaged("too few fields (time, direction, kind, path, bytes)");
    TraceRecord record;
    const std::string time(fields[0]);
    char* end = nullptr;
    record.ms = std::strtod(time.c_str(), &end);
    // At most some thirty years of milliseconds: a larger time is no trace's.
    if (time.empty() || *end != '\0' || !(record.ms >= 0) || record.ms > kMaxTraceMs) {
        return Damaged("the time '" + time + "' is not a number of milliseconds");
    }
    if (fields[1] == ">") {
        record.direction = TraceDirection::ToDevice;
    } else if (fields[1] == "<") {
        record.direction = TraceDirection::FromDevice;
    } else {
        return Damaged("the direction '" + std::string(fields[1]) + "' is neither > nor <");
    }
    bool known = false;
    for (const KindName& entry : kKindNames) {
        if (entry.name == fields[2]) {
            record.kind = entry.kind;
            known = true;
        }
    }
    if (!known) return Damaged("unknown kind '" + std::string(fields[2]) + "'");
    record.path = fields[3];
    auto bytes = DecodeBridgeHex(fields[4]);
    if (!bytes) return Damaged("the bytes '" + std::string(fields[4]) + "' are not hexadecimal");
    record.bytes = std::move(*bytes);
    for (std::size_t i = 5; i < fields.size(); ++i) {
        const std::string_view field = fields[i];
        if (field == kOutcomes[0] || field == kOutcomes[1]) {
            record.outcome = field;
            continue;
        }
        int index = -1;
        const std::string_view value =
            field.substr(std::min(field.size(), kStringIndexField.size()));
        const auto parsed = std::from_chars(value.data(), value.data() + value.size(), index);
        if (!field.starts_with(kStringIndexField) || parsed.ec != std::errc() ||
            parsed.ptr != value.data() + value.size() || index < 0) {
            return Damaged("unknown field '" + std::string(field) + "'");
        }
        record.stringIndex = index;
    }
    return std::optional<TraceRecord>(std::move(record));
}

Result<ParsedTrace> ReadTraceFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return MakeError(ErrorKind::Io, "cannot read " + file + ": " + std::strerror(errno));
    ParsedTrace trace;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        auto parsed = ParseTraceLine(line);
        if (!parsed) {
            trace.damaged.push_back({number, parsed.message()});
        } else if (*parsed) {
            trace.records.push_back(std::move(**parsed));
            trace.recordLines.push_back(number);
        } else if (line.starts_with("#")) {
            trace.headers.push_back({number, line});
        }
    }
    if (in.bad()) return MakeError(ErrorKind::Io, "cannot read " + file);
    return trace;
}

TraceLog::TraceLog(std::string file, std::string program, Notes notes, Clock& clock)
    : file_(std::move(file)),
      program_(std::move(program)),
      notes_(std::move(notes)),
      clock_(clock),
      start_(clock.Now()),
      wallStartMs_(std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count()) {}

bool TraceLog::Stopped() const {
    std::lock_guard lock(mutex_);
    return stopped_;
}

void TraceLog::StopLocked(const std::string& why) {
    stopped_ = true;
    fd_.reset();
    if (notes_) notes_("trace " + file_ + ": " + why + "; tracing stopped");
}

bool TraceLog::WriteLocked(const std::string& line) {
    std::size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(fd_.get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string why = n < 0 ? std::strerror(errno) : "nothing written";
            // A line cut short is taken back, so the trace holds whole lines only.
            if (done > 0) {
                const off_t end = ::lseek(fd_.get(), 0, SEEK_CUR);
                if (end >= static_cast<off_t>(done)) {
                    [[maybe_unused]] const int cut =
                        ::ftruncate(fd_.get(), end - static_cast<off_t>(done));
                }
            }
            StopLocked(why);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void TraceLog::Record(TraceDirection direction, TraceKind kind, const std::string& path,
                      std::span<const uint8_t> bytes, std::string_view outcome, int stringIndex) {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    // Timed under the lock, so that the lines of several threads stay in time order.
    TraceRecord record;
    record.ms = std::chrono::duration<double, std::milli>(clock_.Now() - start_).count();
    record.direction = direction;
    record.kind = kind;
    record.path = path;
    record.bytes.assign(bytes.begin(), bytes.end());
    record.outcome = outcome;
    record.stringIndex = stringIndex;
    if (!fd_) {
        fd_.reset(::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (!fd_) return StopLocked(std::strerror(errno));
        const std::string header = std::string(kHeaderTag) + " start=" + UtcText(wallStartMs_) +
                                   " program=" + program_ + '\n';
        if (!WriteLocked(header)) return;
    }
    WriteLocked(FormatTraceLine(record) + '\n');
}

std::unique_ptr<HidBackend> TraceBackend(std::unique_ptr<HidBackend> inner,
                                         std::shared_ptr<TraceLog> log) {
    if (!log || !inner) return inner;
    return std::make_unique<TracingBackend>(std::move(inner), std::move(log));
}

HidBackend& UntracedBackend(HidBackend& backend) {
    auto* tracing = dynamic_cast<TracingBackend*>(&backend);
    return tracing ? tracing->Inner() : backend;
}

}  // namespace qvm
