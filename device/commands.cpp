#include "device/commands.h"

#include <algorithm>
#include <cstdio>

namespace qvm {
namespace {

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::array<uint8_t, 3> AddressBytes(uint32_t address) {
    return {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
            static_cast<uint8_t>(address >> 16)};
}

// True when every byte of [address, address + length) can be addressed by a request of
// the class; a request past that would silently wrap onto other memory.
bool AddressFits(GenerationClass cls, uint32_t address, std::size_t length, bool wide) {
    const uint64_t limit =
        cls == GenerationClass::Short && wide ? kWideAddressLimit : kAddressLimit;
    return uint64_t{address} + length <= limit;
}

bool InGenerationRange(const CommandEncoding& enc, int32_t generation) {
    return enc.frameCount > 0 && generation >= enc.minGeneration && generation <= enc.maxGeneration;
}

uint8_t Resolve(const ValueSource& source, const Frame& reply, const InfoRecord& info) {
    switch (source.kind) {
        case ValueSource::Reply:
            return reply[source.at];
        case ValueSource::Info:
            return info[source.at];
        case ValueSource::Constant:
            return source.at;
        case ValueSource::None:
            break;
    }
    return 0;
}

}  // namespace

Error StoppedWriteError(const DeviceFailure& failure, uint32_t written, uint32_t total,
                        std::string_view state, std::string_view redo) {
    // A write the host refused sent nothing: the refusal says all there is to say.
    if (failure.refused) return failure.ToError();
    std::string message =
        failure.what + " after " + Hex4(written) + " of " + Hex4(total) + " bytes";
    if (!failure.detail.empty()) message += " (" + failure.detail + ")";
    message += ": its memory is partly ";
    message += state;
    message += "; ";
    message += redo;
    if (failure.kind == ErrorKind::DeviceGone) message += " when it is back";
    return MakeError(failure.kind, std::move(message));
}

DeviceCommands::DeviceCommands(Transport& transport, DeviceValueTable& values, MemoryCache& cache)
    : transport_(transport), values_(values), cache_(cache) {}

DeviceCommands::Sent DeviceCommands::RunFrame(const std::string& path, const FrameTemplate& tpl,
                                              GenerationClass cls, std::span<const uint8_t> params,
                                              std::span<const uint8_t> payload, int waitMs) {
    Frame request;
    FillRequest(tpl, cls, params, payload, request);
    Sent sent;
    ExchangeOutcome outcome = ExchangeOutcome::NotOpened;
    transport_.SendCommand(request, sent.reply, path, waitMs, &outcome);
    sent.ok = outcome == ExchangeOutcome::Done;
    return sent;
}

DeviceCommands::Sent DeviceCommands::Run(const std::string& path, CommandId id,
                                         std::span<const uint8_t> params,
                                         std::span<const uint8_t> payload,
                                         std::optional<int> waitMs) {
    const int32_t generation = values_.Generation(path);
    const GenerationClass cls = ClassOfGeneration(generation);
    const CommandEncoding& enc = EncodingOf(id, cls);
    if (!InGenerationRange(enc, generation)) return {};
    Sent last;
    for (int i = 0; i < enc.frameCount; ++i) {
        const FrameTemplate& tpl = enc.frames[static_cast<std::size_t>(i)];
        last = RunFrame(path, tpl, cls, params, payload, waitMs.value_or(tpl.waitMs));
        // The later frames of a command mean nothing without the earlier ones.
        if (!last.ok) break;
    }
    return last;
}

bool DeviceCommands::RunSetting(const std::string& path, CommandId id,
                                std::span<const uint8_t> params,
                                const std::function<bool()>& before) {
    const int32_t generation = values_.Generation(path);
    const CommandEncoding& enc = EncodingOf(id, ClassOfGeneration(generation));
    if (!InGenerationRange(enc, generation)) return false;
    bool notified = false;
    if (enc.bracketed) {
        // A device that did not answer the bracket's status query is not sent the command.
        const std::optional<bool> opened = OpenBracket(path);
        if (!opened) return false;
        notified = *opened;
    }
    // Nor is one that did not take the memory write the command depends on.
    if (before && !before()) return false;
    const bool ok = Run(path, id, params).ok;
    EndUpdate(path, notified);
    return ok;
}

// ---- Memory ----

bool DeviceCommands::ReadMemory(const std::string& path, uint32_t address, std::span<uint8_t> dest,
                                bool useCache) {
    const GenerationClass cls = ClassOfGeneration(values_.Generation(path));
    if (dest.empty() || !AddressFits(cls, address, dest.size(), true)) return false;
    const bool shortClass = cls == GenerationClass::Short;
    const std::size_t piece = shortClass ? kShortPiece : kLongPiece;
    for (std::size_t offset = 0; offset < dest.size(); offset += piece) {
        const uint32_t at = address + static_cast<uint32_t>(offset);
        // Everything still missing may already be in the cache.
        if (useCache && cache_.Read(path, at, dest.subspan(offset))) return true;
        const auto a = AddressBytes(at);
        const Sent sent = Run(path, CommandId::ReadPiece, a);
        // Only a reply that really came back is worth remembering, or reading on after;
        // what was not read reads as zeros, as a reply that never came.
        if (!sent.ok) {
            std::fill(dest.begin() + static_cast<std::ptrdiff_t>(offset), dest.end(), 0);
            return false;
        }
        const auto data = sent.reply.Span().subspan(kReplyDataAt, piece);
        const std::size_t n = std::min(piece, dest.size() - offset);
        std::copy_n(data.begin(), n, dest.begin() + static_cast<std::ptrdiff_t>(offset));
        cache_.Update(path, at, data, true);
    }
    return true;
}

bool DeviceCommands::WriteBlockShort(const std::string& path, uint32_t address,
                                     std::span<const uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); i += kStagingChunk) {
        const std::array<uint8_t, 1> offset{static_cast<uint8_t>(i)};
        const auto chunk = data.subspan(i, std::min<std::size_t>(kStagingChunk, data.size() - i));
        // A commit after a lost staging command would store stale bytes: stop here.
        if (!Run(path, CommandId::StageBlock, offset, chunk).ok) return false;
    }
    transport_.GetClock().SleepMs(kAfterBlockSleepMs);
    const auto a = AddressBytes(address);
    const std::array<uint8_t, 4> commit{a[0], a[1], a[2], static_cast<uint8_t>(data.size())};
    const bool ok = Run(path, CommandId::CommitBlock, commit).ok;
    transport_.GetClock().SleepMs(kAfterCommitSleepMs);
    return ok;
}

bool DeviceCommands::WriteMemoryBlock(const std::string& path, uint32_t address,
                                      std::span<const uint8_t> data) {
    const GenerationClass cls = ClassOfGeneration(values_.Generation(path));
    if (data.empty() || data.size() > static_cast<std::size_t>(kMaxBlock)) return false;
    if (!AddressFits(cls, address, data.size(), true)) return false;
    if (!PassWriteGate(path)) return false;
    // Host-written bytes are stored but never served from the cache.
    cache_.Update(path, address, data, false);
    if (cls == GenerationClass::Short) {
        return WriteBlockShort(path, address, data);
    }
    const auto a = AddressBytes(address);
    const std::array<uint8_t, 4> params{a[0], a[1], a[2], static_cast<uint8_t>(data.size())};
    const bool ok = Run(path, CommandId::WriteBlock, params, data).ok;
    transport_.GetClock().SleepMs(kAfterBlockSleepMs);
    return ok;
}

bool DeviceCommands::WriteMemory(const std::string& path, uint32_t address,
                                 std::span<const uint8_t> data) {
    if (data.empty()) return false;
    for (std::size_t offset = 0; offset < data.size(); offset += kMaxBlock) {
        const auto block =
            data.subspan(offset, std::min<std::size_t>(kMaxBlock, data.size() - offset));
        // The first block that fails ends the write: the device has the blocks before it.
        if (!WriteMemoryBlock(path, address + static_cast<uint32_t>(offset), block)) return false;
    }
    return true;
}

bool DeviceCommands::WriteMemoryByte(const std::string& path, uint32_t address, uint8_t value) {
    const std::array<uint8_t, 1> data{value};
    const GenerationClass cls = ClassOfGeneration(values_.Generation(path));
    if (cls != GenerationClass::Short) return WriteMemoryBlock(path, address, data);
    if (!AddressFits(cls, address, 1, false)) return false;
    if (!PassWriteGate(path)) return false;
    cache_.Update(path, address, data, false);
    const auto a = AddressBytes(address);
    const std::array<uint8_t, 3> params{a[0], a[1], value};
    return Run(path, CommandId::WriteByte, params).ok;
}

// ---- Identity and state ----

Frame DeviceCommands::QueryStatus(const std::string& path, int waitMs) {
    return Run(path, CommandId::QueryStatus, {}, {}, waitMs).reply;
}

bool DeviceCommands::SetHostMode(const std::string& path, uint8_t mode) {
    const std::array<uint8_t, 1> params{mode};
    return Run(path, CommandId::SetHostMode, params).ok;
}

bool DeviceCommands::NotifyUpdate(const std::string& path) {
    return Run(path, CommandId::NotifyUpdate).ok;
}

DeviceInfo DeviceCommands::ReadDeviceInfo(const std::string& path) {
    const DeviceValues values = values_.Get(path);
    const GenerationClass cls = ClassOfGeneration(values.ProtocolGeneration);
    Frame reply;
    if (cls == GenerationClass::Short) reply = Run(path, CommandId::ReadDeviceInfo).reply;
    const auto& src = DeviceInfoSources(cls);
    const InfoRecord& info = values.Info();
    DeviceInfo out;
    out.featureFlags = Resolve(src[0], reply, info);
    for (std::size_t i = 0; i < out.further.size(); ++i) {
        out.further[i] = Resolve(src[1 + i], reply, info);
    }
    out.deviceClass = Resolve(src[4], reply, info);
    out.identByte3 = Resolve(src[5], reply, info);
    return out;
}

InfoValues DeviceCommands::ReadInfoRecord(const std::string& path, int which) {
    if (which != 1 && which != 2) return {};
    const DeviceValues values = values_.Get(path);
    const GenerationClass cls = ClassOfGeneration(values.ProtocolGeneration);
    Frame reply;
    if (cls == GenerationClass::Short) {
        reply =
            Run(path, which == 1 ? CommandId::ReadInfoRecord1 : CommandId::ReadInfoRecord2).reply;
    }
    InfoValues out;
    out.count = which == 1 ? 2 : 4;
    const auto& src = InfoRecordSources(cls, which);
    for (int i = 0; i < out.count; ++i) {
        out.values[static_cast<std::size_t>(i)] =
            Resolve(src[static_cast<std::size_t>(i)], reply, values.Info());
    }
    return out;
}

std::array<uint8_t, 4> DeviceCommands::ReadRecord(const std::string& path, int r) {
    std::array<uint8_t, 4> out{};
    if (r < 0 || r >= kRecordCount) return out;
    const DeviceValues values = values_.Get(path);
    if (ClassOfGeneration(values.ProtocolGeneration) == GenerationClass::Extended) {
        const std::array<uint8_t, 1> params{static_cast<uint8_t>(r)};
        const Frame reply = Run(path, CommandId::ReadRecord, params).reply;
        std::copy_n(reply.bytes.begin() + kReplyDataAt, out.size(), out.begin());
        return out;
    }
    const InfoRecord& info = values.Info();
    std::copy_n(info.begin() + kRecordBase + 4 * r, out.size(), out.begin());
    if (out[0] > kRecordFirstMax) out[0] = 1;
    return out;
}

LiveState DeviceCommands::ReadLiveState(const std::string& path) {
    const DeviceValues values = values_.Get(path);
    const Frame reply = Run(path, CommandId::ReadLiveState).reply;
    const auto& src = LiveStateSources(ClassOfGeneration(values.ProtocolGeneration));
    LiveState out;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (src[i].kind != ValueSource::None) out[i] = Resolve(src[i], reply, values.Info());
    }
    return out;
}

// ---- Probe ----

Frame DeviceCommands::ProbeRecord(const std::string& path, int r) {
    const std::array<uint8_t, 1> params{static_cast<uint8_t>(r)};
    return Run(path, CommandId::ProbeRecord, params).reply;
}

Frame DeviceCommands::ReadInfoPage(const std::string& path, int wordOffset) {
    const std::array<uint8_t, 1> params{static_cast<uint8_t>(wordOffset)};
    return Run(path, CommandId::ReadInfoPage, params).reply;
}

bool DeviceCommands::SetPageMode(const std::string& path) {
    return Run(path, CommandId::PageMode).ok;
}

bool DeviceCommands::CompleteProbe(const std::string& path) {
    return Run(path, CommandId::ProbeCompletion).ok;
}

// ---- First memory write ----

void DeviceCommands::SetWriteGate(WriteGate gate) {
    std::lock_guard lock(gateMutex_);
    gate_ = std::move(gate);
    gatePassed_.clear();
}

void DeviceCommands::ForgetWriteGate(const std::string& path) {
    std::lock_guard lock(gateMutex_);
    gatePassed_.erase(path);
}

bool DeviceCommands::PassWriteGate(const std::string& path) {
    std::lock_guard lock(gateMutex_);
    if (!gate_ || gatePassed_.count(path) != 0) return true;
    if (Status allowed = gate_(path); !allowed) {
        transport_.NoteRefusal(path, DeviceFailure{allowed.kind(), allowed.message(), {}});
        return false;
    }
    gatePassed_.insert(path);
    return true;
}

// ---- Failures ----

std::optional<DeviceFailure> DeviceCommands::Failure(const std::string& path) const {
    if (auto failure = transport_.LastFailure(path)) return failure;
    if (const int garbled = transport_.GarbledReplies(path); garbled > 0) {
        return DeviceFailure{ErrorKind::DeviceGarbled, "the device's replies are garbled",
                             std::to_string(garbled) + " repl" + (garbled == 1 ? "y" : "ies") +
                                 " in a row with a wrong check byte"};
    }
    return std::nullopt;
}

DeviceFailure DeviceCommands::FailureOr(const std::string& path, std::string fallback) const {
    if (auto failure = Failure(path)) return *failure;
    return {ErrorKind::Other, std::move(fallback), {}};
}

DeviceFailure DeviceCommands::FailureSince(const std::string& path, uint64_t mark,
                                           std::string fallback) const {
    if (auto failure = transport_.FailureSince(path, mark)) return *failure;
    return FailureOr(path, std::move(fallback));
}

Error DeviceCommands::NotTakenSince(const std::string& path, uint64_t mark,
                                    const std::string& what) const {
    return FailureSince(path, mark, "the device did not take the " + what).ToError();
}

// ---- Update bracket ----

std::optional<bool> DeviceCommands::OpenBracket(const std::string& path) {
    if (ClassOfGeneration(values_.Generation(path)) != GenerationClass::Long) return false;
    const Sent status = Run(path, CommandId::QueryStatus, {}, {}, kBracketStatusWaitMs);
    if (!status.ok) return std::nullopt;
    if (status.reply[kBracketFlagByte] & kBracketFlagBit) return false;
    if (!NotifyUpdate(path)) return std::nullopt;
    return true;
}

bool DeviceCommands::BeginUpdate(const std::string& path) {
    return OpenBracket(path).value_or(false);
}

void DeviceCommands::EndUpdate(const std::string& path, bool notified) {
    if (notified) NotifyUpdate(path);
}

void DeviceCommands::Bracketed(const std::string& path, const std::function<void()>& body) {
    const bool notified = BeginUpdate(path);
    body();
    EndUpdate(path, notified);
}

}  // namespace qvm
