#include "sim/sim_mouse.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace qvm {

namespace {

constexpr int kReplyData = 2;  // first data byte of every reply
constexpr int kStageMask = 0x07;
constexpr int kMaxStage = kSimStageCount - 1;
constexpr int kMaxLightingEffect = 4;
constexpr int kReportRateShift = 4;
constexpr uint8_t kAngleSnappingBit = 0x01;
constexpr uint8_t kScrollDpiBit = 0x80;

// Reply bytes copied from the information area: (reply offset, info offset).
struct InfoCopy {
    uint8_t replyOffset;
    uint8_t infoOffset;
};
using O = SimInfoOffsets;
constexpr InfoCopy kDeviceInfoReply[] = {{2, O::kFeatureFlags}, {3, O::kHardware},
                                         {4, O::kHardware + 1}, {5, O::kHardware + 2},
                                         {6, O::kDeviceClass},  {7, O::kIdentByte3}};
constexpr InfoCopy kInfoRecord1Reply[] = {{2, O::kProfileCount}, {3, O::kStageCount}};
constexpr InfoCopy kInfoRecord2Reply[] = {{2, O::kInfoRecord2},
                                          {3, O::kInfoRecord2 + 1},
                                          {4, O::kInfoRecord2 + 2},
                                          {5, O::kInfoRecord2 + 3}};
constexpr int kButtonRecordBytes = 4;

std::span<const SimFieldAt> StatusLayout(int generation) {
    if (generation <= 0) return kSimStatusShort;
    if (generation <= 10) return kSimStatusLong;
    return kSimStatusClassC;
}

bool UsesLastByte(std::span<const SimFieldAt> layout, int length) {
    return std::any_of(layout.begin(), layout.end(),
                       [&](const SimFieldAt& at) { return at.offset == length - 1; });
}

int ClampStage(int stage) {
    return std::min(stage & kStageMask, kMaxStage);
}

}  // namespace

SimMouse::SimMouse(const SimDeviceConfig& config)
    : config_(config),
      format_(config.generation <= 0 ? kSimShortFrame : kSimLongFrame),
      geometry_(GeometryOf(config)),
      memory_(BuildFactoryImage(config)),
      mask_(config.memorySize - 1),
      info_(BuildInfoArea(config)) {
    if (memory_.empty() || (memory_.size() & mask_) != 0) {
        throw std::invalid_argument("simulated memory size must be a power of two");
    }
    ApplyMemory();
    FinishReply(format_, 0, reply_);
}

std::span<const uint8_t> SimMouse::Reply() const {
    return {reply_.bytes.data(), static_cast<size_t>(format_.length)};
}

std::vector<std::vector<uint8_t>> SimMouse::TakeReports() {
    return std::exchange(reports_, {});
}

void SimMouse::QueueReport(std::vector<uint8_t> report) {
    reports_.push_back(std::move(report));
}

std::optional<std::vector<uint8_t>> SimMouse::IndexedString(int index) const {
    return BuildIdentityString(config_, index);
}

bool SimMouse::LoadMemory(std::span<const uint8_t> image) {
    if (image.size() != memory_.size()) return false;
    std::copy(image.begin(), image.end(), memory_.begin());
    ApplyMemory();
    return true;
}

void SimMouse::Undo(std::span<const SimMemoryChange> changes) {
    for (auto it = changes.rbegin(); it != changes.rend(); ++it) memory_[it->address] = it->before;
    ApplyMemory();
}

SimLiveView SimMouse::LiveView() const {
    SimLiveView view;
    view.hostMode = state_.hostMode;
    view.identByte1 = config_.identByte1;
    view.identByte2 = config_.identByte2;
    view.stage = static_cast<uint8_t>(state_.stage);
    view.profile = static_cast<uint8_t>(state_.profile);
    view.stageX = state_.stageValues[state_.stage][0];
    view.stageY = state_.stageValues[state_.stage][1];
    view.updateFlags = state_.updateSession ? kSimUpdateSessionBit : 0;
    view.reportRate = state_.reportRate;
    view.options = static_cast<uint8_t>((state_.angleSnapping ? kAngleSnappingBit : 0) |
                                        (state_.scrollChangesDpi ? kScrollDpiBit : 0));
    view.liveWord = state_.liveWord;
    view.liveValue2 = info_[O::kLiveValue2];
    view.memoryTop = static_cast<uint16_t>(memory_.size() - 1);
    return view;
}

SimRequestOutcome SimMouse::HandleRequest(std::span<const uint8_t> request) {
    if (CheckRequestFrame(request, format_) != SimFrameFault::None) {
        return SimRequestOutcome::BadFrame;
    }
    const std::vector<uint8_t> before = BuildStatusReport(LiveView());
    const SimCommandRule* rule = FindSimCommand(config_.generation, request);
    SimReply reply;
    SimRequestOutcome outcome = SimRequestOutcome::Accepted;
    uint8_t result = request[kSimCommandByte] & kSimResultMask;
    if (rule == nullptr) {
        outcome = SimRequestOutcome::Unknown;
    } else if (!Execute(*rule, request, reply)) {
        outcome = SimRequestOutcome::Refused;
    }
    if (outcome != SimRequestOutcome::Accepted) {
        reply = SimReply{};
        result = kSimRejected;
    }
    FinishReply(format_, result | (toggle_ ? kSimToggleBit : 0), reply);
    toggle_ = !toggle_;
    reply_ = reply;
    ReportIfChanged(before);
    return outcome;
}

bool SimMouse::Execute(const SimCommandRule& rule, std::span<const uint8_t> request,
                       SimReply& reply) {
    Args a{};
    for (int i = 0; i < 4; ++i) a[i] = rule.args[i] == kSimNoArg ? -1 : request[rule.args[i]];
    switch (rule.op) {
        case SimOp::ReadMemory:
        case SimOp::WriteByte:
        case SimOp::WriteBlock:
        case SimOp::StageData:
        case SimOp::CommitStaged:
            return ExecuteMemory(rule, a, request, reply);
        case SimOp::LedPreview: {
            // Shown at once, not stored: the next apply of memory shows the stored colours.
            const int first = rule.args[2];
            if (geometry_.ledTable < 0 || a[0] >= kSimLedCount) return false;
            state_.leds[a[0]] = {request[first], request[first + 1], request[first + 2],
                                 static_cast<uint8_t>(a[1])};
            return true;
        }
        case SimOp::SetProfile:
        case SimOp::SetStage:
        case SimOp::SetStageValues:
        case SimOp::Reload:
        case SimOp::ReloadAlt:
        case SimOp::SetLighting:
        case SimOp::LightingRefresh:
        case SimOp::LiveBytes:
        case SimOp::LiveWord:
        case SimOp::ProfileColour:
        case SimOp::ProfileColourPart:
            return ExecuteLive(rule.op, a);
        default:
            return ExecuteIdentity(rule.op, a, reply);
    }
}

bool SimMouse::ExecuteIdentity(SimOp op, const Args& a, SimReply& reply) {
    auto copyInfo = [&](std::span<const InfoCopy> layout) {
        for (const InfoCopy& c : layout) reply.bytes[c.replyOffset] = info_[c.infoOffset];
        return true;
    };
    switch (op) {
        case SimOp::QueryStatus: {
            const auto layout = StatusLayout(config_.generation);
            PlaceFields(layout, LiveView(), reply.bytes);
            reply.lastByteIsData = UsesLastByte(layout, format_.length);
            return true;
        }
        case SimOp::LiveState:
            PlaceFields(kSimLiveStateShort, LiveView(), reply.bytes);
            return true;
        case SimOp::SetHostMode:
            state_.hostMode = static_cast<uint8_t>(a[0]);
            return true;
        case SimOp::NotifyUpdate:
            ++state_.notifyUpdates;
            state_.updateSession = !state_.updateSession;
            if (!state_.updateSession) ApplyMemory();  // closing the session applies it
            return true;
        case SimOp::DeviceInfo:
            return copyInfo(kDeviceInfoReply);
        case SimOp::InfoRecord1:
            return copyInfo(kInfoRecord1Reply);
        case SimOp::InfoRecord2:
            return copyInfo(kInfoRecord2Reply);
        case SimOp::ButtonRecord: {
            if (a[0] >= geometry_.buttonCount) return false;
            const int at = O::kButtonRecords + kButtonRecordBytes * a[0];
            std::copy_n(info_.begin() + at, kButtonRecordBytes, reply.bytes.begin() + kReplyData);
            return true;
        }
        case SimOp::InfoPage: {
            if (!state_.pageMode) return false;
            for (int i = 0; i < static_cast<int>(kSimInfoPageBytes); ++i) {
                const size_t at = 2 * static_cast<size_t>(a[0]) + i;
                reply.bytes[kReplyData + i] = at < info_.size() ? info_[at] : 0;
            }
            return true;
        }
        case SimOp::PageMode:
            state_.pageMode = true;
            return true;
        case SimOp::ProbeComplete:
            state_.probeComplete = true;
            return true;
        default:
            return false;
    }
}

uint32_t SimMouse::Address(const Args& a, int low, int mid, int high) const {
    uint32_t address = static_cast<uint32_t>(a[low]) | static_cast<uint32_t>(a[mid]) << 8;
    if (high >= 0 && a[high] >= 0) address |= static_cast<uint32_t>(a[high]) << 16;
    return address;
}

bool SimMouse::ExecuteMemory(const SimCommandRule& rule, const Args& a,
                             std::span<const uint8_t> request, SimReply& reply) {
    const int checkByte = format_.length - 1;
    switch (rule.op) {
        case SimOp::ReadMemory: {
            const uint32_t address = Address(a, 0, 1, 2);
            for (int i = 0; i < format_.dataPiece; ++i) {
                reply.bytes[kReplyData + i] = Peek(address + i);
            }
            reply.lastByteIsData = kReplyData + format_.dataPiece >= format_.length;
            return true;
        }
        case SimOp::WriteByte:
            Poke(Address(a, 0, 1, -1), static_cast<uint8_t>(a[2]));
            ++memoryWrites_;
            return true;
        case SimOp::WriteBlock: {
            const int count = a[2];
            const int first = rule.args[3];
            if (count < 1 || count > kSimMaxBlock || first + count > checkByte) return false;
            const uint32_t address = Address(a, 0, 1, -1);
            for (int i = 0; i < count; ++i) Poke(address + i, request[first + i]);
            ++memoryWrites_;
            // Class C has no lighting refresh command: its LEDs take a stored record at
            // once. Other writes leave a preview alone.
            const int table = geometry_.ledTable;
            const bool onTable =
                table >= 0 &&
                static_cast<int>(
                    address)<table + kSimLedTableBytes&& static_cast<int>(address) + count>
                    table;
            if (onTable && LayoutClassOf(config_.generation) == SimLayoutClass::C) ApplyLeds();
            return true;
        }
        case SimOp::StageData: {
            const int offset = a[0];
            const int first = rule.args[1];
            if (offset >= kSimStagingBytes) return false;
            for (int i = first; i < format_.length && offset + i - first < kSimStagingBytes; ++i) {
                staging_[offset + i - first] = request[i];
            }
            return true;
        }
        case SimOp::CommitStaged: {
            const int count = a[3];
            if (count < 1 || count > kSimStagingBytes) return false;
            const uint32_t address = Address(a, 0, 1, 2);
            for (int i = 0; i < count; ++i) Poke(address + i, staging_[i]);
            ++memoryWrites_;
            return true;
        }
        default:
            return false;
    }
}

bool SimMouse::ExecuteLive(SimOp op, const Args& a) {
    switch (op) {
        case SimOp::SetProfile:
            if (a[0] >= kSimProfileCount) return false;
            state_.profile = a[0];
            return true;
        case SimOp::SetStage:
            if (a[0] > kMaxStage) return false;
            ApplyStage(a[0]);
            return true;
        case SimOp::SetStageValues: {
            const int stage = a[2] >= 0 ? a[2] : state_.stage;
            if (stage > kMaxStage) return false;
            state_.stageValues[stage] = {static_cast<uint8_t>(a[0]), static_cast<uint8_t>(a[1])};
            return true;
        }
        case SimOp::Reload:
            ++state_.reloads;
            ApplyMemory();
            return true;
        case SimOp::ReloadAlt:
            ++state_.reloadsAlt;
            ApplyMemory();
            return true;
        case SimOp::SetLighting:
            // The effect is kept in memory too, so that it outlives a power cycle even when
            // the host did not write the byte itself.
            if (geometry_.lightingByte < 0 || a[0] > kMaxLightingEffect) return false;
            state_.lightingEffect = static_cast<uint8_t>(a[0]);
            Poke(geometry_.lightingByte, state_.lightingEffect);
            return true;
        case SimOp::LightingRefresh:
            ++state_.lightingRefreshes;
            ApplyMemory();
            return true;
        case SimOp::LiveBytes: {
            uint32_t value = 0;
            for (int i = 0; i < 4; ++i) {
                if (a[i] >= 0) value |= static_cast<uint32_t>(a[i]) << (8 * i);
            }
            state_.liveBytes = value;
            return true;
        }
        case SimOp::LiveWord:
            state_.liveWord = static_cast<uint16_t>(a[0] | a[1] << 8);
            return true;
        case SimOp::ProfileColour:
            for (int i = 0; i < 3; ++i) state_.profileColour[i] = static_cast<uint8_t>(a[i]);
            return true;
        case SimOp::ProfileColourPart:
            if (a[0] >= 3) return false;
            state_.profileColour[a[0]] = static_cast<uint8_t>(a[1]);
            return true;
        default:
            return false;
    }
}

void SimMouse::ApplyMemory() {
    const SimMemoryGeometry& g = geometry_;
    state_.stage = ClampStage(Peek(g.stageByte));
    for (int k = 0; k < kSimStageCount; ++k) {
        state_.stageValues[k] = {Peek(g.dpiBase + 2 * k), Peek(g.dpiBase + 2 * k + 1)};
    }
    const uint8_t options = Peek(g.optionsByte);
    state_.angleSnapping = (options & kAngleSnappingBit) != 0;
    state_.reportRate = (options >> kReportRateShift) & 0x07;
    if (g.lightingByte >= 0) {
        const uint8_t effect = Peek(g.lightingByte);
        if (effect <= kMaxLightingEffect) state_.lightingEffect = effect;
    }
    ApplyLeds();
}

void SimMouse::ApplyLeds() {
    const int table = geometry_.ledTable;
    if (table < 0) return;
    for (int led = 0; led < kSimLedCount; ++led) {
        for (int i = 0; i < kSimLedRecordBytes; ++i) {
            state_.leds[led][i] = Peek(table + kSimLedRecordBytes * led + i);
        }
    }
}

void SimMouse::ReportIfChanged(const std::vector<uint8_t>& before) {
    std::vector<uint8_t> after = BuildStatusReport(LiveView());
    if (after != before) reports_.push_back(std::move(after));
}

void SimMouse::SelectProfile(int profile) {
    const auto before = BuildStatusReport(LiveView());
    state_.profile = std::clamp(profile, 0, kSimProfileCount - 1);
    ReportIfChanged(before);
}

void SimMouse::ApplyStage(int stage) {
    state_.stage = std::clamp(stage, 0, kMaxStage);
    // Classes B and C keep the current stage in memory byte 2 (bits 0-2).
    if (LayoutClassOf(config_.generation) != SimLayoutClass::A) {
        const uint8_t old = Peek(geometry_.stageByte);
        Poke(geometry_.stageByte, static_cast<uint8_t>((old & ~kStageMask) | state_.stage));
    }
}

void SimMouse::SelectStage(int stage) {
    const auto before = BuildStatusReport(LiveView());
    ApplyStage(stage);
    ReportIfChanged(before);
}

void SimMouse::SetScrollChangesDpi(bool on) {
    const auto before = BuildStatusReport(LiveView());
    state_.scrollChangesDpi = on;
    ReportIfChanged(before);
}

}  // namespace qvm
