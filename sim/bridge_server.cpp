#include "sim/bridge_server.h"

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "platform/bridge_io.h"
#include "platform/bridge_protocol.h"

namespace qvm {
namespace {

constexpr int kMaxStringIndex = 255;
// Separates the number that makes a repeated ID unique.
constexpr char kIdSuffixMark = '~';

using Fields = std::vector<std::string_view>;

// One answer: the lines to write, each without its '\n'.
using Answer = std::vector<std::string>;

Answer Refuse(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    return {std::string(bridge::kErr) + " " + text};
}

// A transfer that failed: `err gone: WHAT` when the device left, so the host stops
// polling it at once, else `err WHAT`, with the handle's reason when it gave one.
Answer TransferFailed(const HidFailure& failure, std::string what) {
    if (!failure.reason.empty()) what += ": " + failure.reason;
    if (failure.kind == HidFailureKind::Gone) what = std::string(bridge::kGone) + ": " + what;
    return Refuse(std::move(what));
}

Answer OkWith(std::span<const uint8_t> bytes) {
    return {std::string(bridge::kOk) + " " + EncodeBridgeHex(bytes)};
}

class BridgeServer {
  public:
    explicit BridgeServer(HidBackend& backend) : backend_(backend) {}

    // Answers one request line; `bye` is set when the request was `bye`.
    Answer Handle(std::string_view line, bool& bye);

  private:
    struct Device {
        std::string path;
        HidDeviceInfo info;
        std::unique_ptr<HidHandle> handle;  // opened on first use, dropped when it fails
    };
    // A request naming a device, with the device's open handle.
    using DeviceRequest = Answer (BridgeServer::*)(Device& device, HidHandle& handle,
                                                   std::string_view argument);
    struct DeviceVerb {
        std::string_view verb;
        DeviceRequest run;
    };
    static const DeviceVerb kDeviceVerbs[];

    Answer Hello(const Fields& fields);
    Answer List();
    Answer Events();
    Answer OnDevice(const DeviceVerb& verb, const Fields& fields);

    Answer GetFeature(Device& device, HidHandle& handle, std::string_view argument);
    Answer SetFeature(Device& device, HidHandle& handle, std::string_view argument);
    Answer WriteReport(Device& device, HidHandle& handle, std::string_view argument);
    Answer ReadReport(Device& device, HidHandle& handle, std::string_view argument);
    Answer String(Device& device, HidHandle& handle, std::string_view argument);

    // Answers a failed transfer and drops the handle, so the next request opens afresh.
    static Answer Dropped(Device& device, std::string what) {
        const HidFailure failure = device.handle->LastFailure();
        device.handle.reset();
        return TransferFailed(failure, std::move(what));
    }

    // The ID for `path`, assigned on first sight and kept for the server's life.
    std::string IdFor(const HidDeviceInfo& info);
    Device* Find(std::string_view id);

    HidBackend& backend_;
    std::map<std::string, Device, std::less<>> devices_;  // by ID
    std::map<std::string, std::string> idByPath_;
};

const BridgeServer::DeviceVerb BridgeServer::kDeviceVerbs[] = {
    {bridge::kGetFeature, &BridgeServer::GetFeature},
    {bridge::kSetFeature, &BridgeServer::SetFeature},
    {bridge::kWrite, &BridgeServer::WriteReport},
    {bridge::kRead, &BridgeServer::ReadReport},
    {bridge::kString, &BridgeServer::String},
};

Answer BridgeServer::Handle(std::string_view line, bool& bye) {
    bye = false;
    auto fields = SplitBridgeFields(line);
    if (!fields) return Refuse("malformed request '" + std::string(line) + "'");
    std::string_view verb = fields->front();
    std::size_t arguments = fields->size() - 1;
    auto wrongCount = [&] {
        return Refuse("malformed request '" + std::string(line) + "': '" + std::string(verb) +
                      "' takes a different number of fields");
    };
    if (verb == bridge::kHello) return arguments == 1 ? Hello(*fields) : wrongCount();
    if (verb == bridge::kList) return arguments == 0 ? List() : wrongCount();
    if (verb == bridge::kEvents) return arguments == 0 ? Events() : wrongCount();
    if (verb == bridge::kBye) {
        if (arguments != 0) return wrongCount();
        bye = true;
        return {std::string(bridge::kOk)};
    }
    for (const DeviceVerb& deviceVerb : kDeviceVerbs) {
        if (verb == deviceVerb.verb)
            return arguments == 2 ? OnDevice(deviceVerb, *fields) : wrongCount();
    }
    return Refuse("unknown request '" + std::string(verb) + "'");
}

Answer BridgeServer::Hello(const Fields& fields) {
    auto version = ParseBridgeDecimal(fields[1], 0, 1 << 30);
    if (version != kBridgeProtocolVersion)
        return Refuse("protocol version '" + std::string(fields[1]) +
                      "' is not supported; this server speaks " +
                      std::to_string(kBridgeProtocolVersion));
    return {std::string(bridge::kOk) + " " + std::to_string(kBridgeProtocolVersion)};
}

Answer BridgeServer::List() {
    auto infos = backend_.Enumerate();
    if (!infos) return Refuse(infos.message());
    Answer answer;
    for (const HidDeviceInfo& info : *infos)
        answer.push_back(std::string(bridge::kDev) + " " + FormatBridgeDevice(IdFor(info), info));
    answer.emplace_back(bridge::kEnd);
    return answer;
}

Answer BridgeServer::Events() {
    Answer answer;
    for (const HidEvent& event : backend_.TakeEvents()) {
        if (event.kind == HidEventKind::Added) {
            std::string id = IdFor(event.info);
            devices_[id].handle.reset();  // a device that came back needs a fresh handle
            answer.push_back(std::string(bridge::kAdd) + " " + FormatBridgeDevice(id, event.info));
            continue;
        }
        auto known = idByPath_.find(event.info.path);
        if (known == idByPath_.end()) continue;  // never announced: nobody can name it
        devices_[known->second].handle.reset();
        answer.push_back(std::string(bridge::kRemove) + " " + known->second);
    }
    answer.emplace_back(bridge::kEnd);
    return answer;
}

Answer BridgeServer::OnDevice(const DeviceVerb& verb, const Fields& fields) {
    Device* device = Find(fields[1]);
    if (!device) {
        // The host may hold an ID from before this server started: look again.
        if (auto infos = backend_.Enumerate()) {
            for (const HidDeviceInfo& info : *infos) IdFor(info);
        }
        device = Find(fields[1]);
    }
    if (!device) return Refuse("unknown device ID '" + std::string(fields[1]) + "'");
    if (!device->handle) {
        auto opened = backend_.Open(device->path);
        if (!opened) {
            const HidFailureKind kind = opened.kind() == ErrorKind::DeviceGone
                                            ? HidFailureKind::Gone
                                            : HidFailureKind::Failed;
            return TransferFailed({kind, opened.message()}, "cannot open '" + device->path + "'");
        }
        device->handle = std::move(*opened);
    }
    return (this->*verb.run)(*device, *device->handle, fields[2]);
}

Answer BridgeServer::GetFeature(Device& device, HidHandle& handle, std::string_view argument) {
    auto buffer = DecodeBridgeHex(argument);
    if (!buffer) return Refuse("bad hex '" + std::string(argument) + "'");
    if (buffer->empty()) return Refuse("a feature report needs at least its report ID");
    if (!handle.GetFeature(*buffer)) return Dropped(device, "reading the feature report failed");
    return OkWith(*buffer);
}

Answer BridgeServer::SetFeature(Device& device, HidHandle& handle, std::string_view argument) {
    auto report = DecodeBridgeHex(argument);
    if (!report) return Refuse("bad hex '" + std::string(argument) + "'");
    if (report->empty()) return Refuse("a feature report needs at least its report ID");
    if (!handle.SetFeature(*report)) return Dropped(device, "sending the feature report failed");
    return {std::string(bridge::kOk)};
}

Answer BridgeServer::WriteReport(Device& device, HidHandle& handle, std::string_view argument) {
    auto report = DecodeBridgeHex(argument);
    if (!report) return Refuse("bad hex '" + std::string(argument) + "'");
    if (report->empty()) return Refuse("an output report needs at least its report ID");
    if (!handle.Write(*report)) return Dropped(device, "writing the output report failed");
    return {std::string(bridge::kOk)};
}

Answer BridgeServer::ReadReport(Device& device, HidHandle& handle, std::string_view argument) {
    auto length = ParseBridgeDecimal(argument, 1, kBridgeMaxReportLength);
    if (!length)
        return Refuse("bad report length '" + std::string(argument) + "' (1 to " +
                      std::to_string(kBridgeMaxReportLength) + ")");
    std::vector<uint8_t> buffer(static_cast<std::size_t>(*length));
    int got = handle.Read(buffer, 0);
    if (got < 0) return Dropped(device, "reading the input report failed");
    if (got == 0) return {std::string(bridge::kNone)};
    return OkWith(std::span(buffer).first(static_cast<std::size_t>(got)));
}

Answer BridgeServer::String(Device&, HidHandle& handle, std::string_view argument) {
    auto index = ParseBridgeDecimal(argument, 0, kMaxStringIndex);
    if (!index)
        return Refuse("bad string index '" + std::string(argument) + "' (0 to " +
                      std::to_string(kMaxStringIndex) + ")");
    auto text = handle.IndexedString(*index);
    // A missing string is an answer, not a failure of the handle: it stays open.
    if (!text) return Refuse("the device has no string " + std::to_string(*index));
    return OkWith(*text);
}

std::string BridgeServer::IdFor(const HidDeviceInfo& info) {
    auto known = idByPath_.find(info.path);
    if (known != idByPath_.end()) {
        devices_[known->second].info = info;
        return known->second;
    }
    std::string base = BridgeToLower(info.path.substr(info.path.rfind('#') + 1));
    for (char& c : base) {
        if (!IsValidBridgeId(std::string_view(&c, 1)) || c == kIdSuffixMark) c = '_';
    }
    if (base.empty()) base = "dev";
    std::string id = base;
    for (int n = 2; devices_.count(id) != 0; ++n) id = base + kIdSuffixMark + std::to_string(n);
    idByPath_[info.path] = id;
    devices_[id] = Device{info.path, info, nullptr};
    return id;
}

BridgeServer::Device* BridgeServer::Find(std::string_view id) {
    auto it = devices_.find(BridgeToLower(id));
    return it == devices_.end() ? nullptr : &it->second;
}

}  // namespace

Status ServeBridge(HidBackend& backend, int inFd, int outFd) {
    BridgeServer server(backend);
    LineReader reader(inFd, kBridgeMaxLineLength);
    while (true) {
        std::string line;
        Answer answer;
        bool bye = false;
        switch (reader.Next(line, std::nullopt)) {
            case LineReader::Outcome::Line:
                answer = server.Handle(line, bye);
                break;
            case LineReader::Outcome::TooLong:
                answer = Refuse("request longer than " + std::to_string(kBridgeMaxLineLength) +
                                " bytes");
                break;
            case LineReader::Outcome::End:
                return {};
            case LineReader::Outcome::TimedOut:
            case LineReader::Outcome::Failed:
                return MakeError(std::string("cannot read requests: ") + std::strerror(errno));
        }
        std::string text;
        for (const std::string& answerLine : answer) text += answerLine + "\n";
        if (!WriteAllNoSigpipe(outFd, text))
            return MakeError(std::string("cannot write answers: ") + std::strerror(errno));
        if (bye) return {};
    }
}

}  // namespace qvm
