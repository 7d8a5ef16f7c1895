// The single-setting writes of the configuration image: each checks its input, changes
// the model and sends the memory writes and setting commands the device needs.
#include <algorithm>

#include "base/text.h"
#include "config/config_image.h"
#include "device/commands.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

Status CheckProfile(int profile) {
    if (profile < 0 || profile >= kProfileCount) {
        return MakeError("profile " + std::to_string(profile) + " is outside 0 to 4");
    }
    return {};
}

Status CheckButton(const ImageLayout& layout, int profile, int button) {
    if (Status ok = CheckProfile(profile); !ok) return ok;
    if (button < 0 || button >= layout.buttonCount) {
        return MakeError("button " + std::to_string(button) + " is outside 0 to " +
                         std::to_string(layout.buttonCount - 1));
    }
    return {};
}

// The four plane bytes of one button, to the device; true when every write went out.
bool WriteSlotBytes(DeviceCommands& commands, const std::string& path, const ImageLayout& layout,
                    int profile, int button, ButtonSlot slot) {
    const auto bytes = slot.Bytes();
    bool ok = true;
    for (int plane = 0; plane < kPlaneCount; ++plane) {
        ok = commands.WriteMemoryByte(path, layout.SlotByteAddress(profile, button, plane),
                                      bytes[static_cast<std::size_t>(plane)]) &&
             ok;
    }
    return ok;
}

// Keeps the stored bytes of the image in step with a button written to the device.
void StoreSlotBytes(ConfigImage& image, int profile, int button, ButtonSlot slot) {
    const ImageLayout& layout = image.Layout();
    const auto bytes = slot.Bytes();
    for (int plane = 0; plane < kPlaneCount; ++plane) {
        const uint32_t at = layout.SlotByteAddress(profile, button, plane);
        if (at < image.bytes.size()) image.bytes[at] = bytes[static_cast<std::size_t>(plane)];
    }
}

}  // namespace

// ---- DPI ----

Status ConfigModel::SetDpiStage(int stage, int x, int y) {
    if (Status ok = RequireLoaded(); !ok) return ok;
    if (stage < 0) return MakeError("a DPI stage index cannot be negative");
    stage = std::min(stage, kMaxStageIndex);
    for (int value : {x, y}) {
        if (Status ok = ValidateDpiValue(value); !ok) return ok;
    }
    WorkLock lock(work_);
    Update([&](ConfigImage& image) {
        image.dpiStages[static_cast<std::size_t>(stage)] = {static_cast<uint8_t>(x),
                                                            static_cast<uint8_t>(y)};
    });
    const std::array<int, 1> stages{stage};
    return WriteStagesLocked(stages);
}

Status ConfigModel::WriteDpiStages(std::span<const int> stages) {
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    return WriteStagesLocked(stages);
}

Status ConfigModel::WriteStagesLocked(std::span<const int> stages) {
    const uint64_t mark = commands_.FailureMark();
    if (stages.empty()) return {};
    const auto image = Snapshot();
    const ImageLayout& layout = image->Layout();
    bool ok = Notify();
    const int current = image->currentDpiStage;
    if (std::find(stages.begin(), stages.end(), current) != stages.end()) {
        const DpiStage& s = image->dpiStages[static_cast<std::size_t>(current)];
        ok = commands_.SetSettingTriple(path_, s.x, static_cast<uint8_t>(current), s.y) && ok;
    }
    for (int k : stages) {
        const int stage = std::clamp(k, 0, kMaxStageIndex);
        const DpiStage& s = image->dpiStages[static_cast<std::size_t>(stage)];
        const std::array<uint8_t, 2> xy{s.x, s.y};
        ok = commands_.WriteMemory(path_, layout.dpiBase + 2 * static_cast<uint32_t>(stage), xy) &&
             ok;
    }
    ok = Notify() && ok;
    if (!ok) return commands_.NotTakenSince(path_, mark, "DPI stage values");
    return {};
}

Status ConfigModel::SetCurrentDpiStage(int stage) {
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    return SelectStageLocked(stage);
}

Status ConfigModel::SelectStageLocked(int stage) {
    const uint64_t mark = commands_.FailureMark();
    if (stage < 0) return MakeError("a DPI stage index cannot be negative");
    stage = std::min(stage, kMaxStageIndex);
    if (!commands_.SetSettingByte2(path_, static_cast<uint8_t>(stage))) {
        return commands_.NotTakenSince(path_, mark, "current DPI stage");
    }
    Update([&](ConfigImage& image) { image.currentDpiStage = stage; });
    return {};
}

Status ConfigModel::SetStageFlags(const std::array<bool, kDpiStageCount>& flags) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    const ImageLayout& layout = Snapshot()->Layout();
    uint8_t byte = 0;
    for (int k = 0; k < layout.stageFlagCount; ++k) {
        if (flags[static_cast<std::size_t>(k)]) byte |= static_cast<uint8_t>(1 << k);
    }
    bool ok = false;
    commands_.Bracketed(
        path_, [&] { ok = commands_.WriteMemoryByte(path_, layout.stageFlagsByte, byte); });
    ok = commands_.ReloadSettingsAlt(path_) && ok;
    Update([&](ConfigImage& image) {
        for (int k = 0; k < layout.stageFlagCount; ++k) {
            image.stageFlags[static_cast<std::size_t>(k)] = flags[static_cast<std::size_t>(k)];
        }
    });
    if (!ok) return commands_.NotTakenSince(path_, mark, "stage flags");
    return {};
}

// ---- Report rate and angle snapping: read-modify-write of the options byte ----

Status ConfigModel::SetReportRate(int code) {
    const uint64_t mark = commands_.FailureMark();
    if (code < 0 || code > kMaxRateCode) {
        return MakeError("report-rate code " + std::to_string(code) + " is outside 0 to 7");
    }
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    const uint32_t at = Snapshot()->Layout().optionsByte;
    bool ok = Notify();
    std::array<uint8_t, 1> b{};
    if (ok && commands_.ReadMemory(path_, at, b, true)) {
        const auto next = static_cast<uint8_t>((b[0] & ~kRateMask) | code << kRateShift);
        ok = commands_.WriteMemoryByte(path_, at, next);
    } else {
        ok = false;
    }
    ok = commands_.ReloadSettings(path_) && ok;
    ok = Notify() && ok;
    Update([&](ConfigImage& image) { image.reportRateCode = code; });
    if (!ok) return commands_.NotTakenSince(path_, mark, "report rate");
    return {};
}

Status ConfigModel::SetAngleSnapping(bool on) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    const uint32_t at = Snapshot()->Layout().optionsByte;
    bool ok = false;
    commands_.Bracketed(path_, [&] {
        std::array<uint8_t, 1> b{};
        if (!commands_.ReadMemory(path_, at, b, true)) return;
        const auto next = static_cast<uint8_t>(on ? b[0] | kSnappingBit : b[0] & ~kSnappingBit);
        ok = commands_.WriteMemoryByte(path_, at, next);
    });
    ok = commands_.ReloadSettings(path_) && ok;
    Update([&](ConfigImage& image) { image.angleSnapping = on; });
    if (!ok) return commands_.NotTakenSince(path_, mark, "angle snapping setting");
    return {};
}

// ---- Buttons ----

Status ConfigModel::SetButtonSlot(int profile, int button, ButtonSlot slot, bool reload) {
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    return WriteSlotLocked(profile, button, slot, reload);
}

Status ConfigModel::WriteSlotLocked(int profile, int button, ButtonSlot slot, bool reload) {
    const uint64_t mark = commands_.FailureMark();
    const auto image = Snapshot();
    const ImageLayout& layout = image->Layout();
    if (Status ok = CheckButton(layout, profile, button); !ok) return ok;
    bool ok = WriteSlotBytes(commands_, path_, layout, profile, button, slot);
    if (reload) ok = commands_.ReloadSettings(path_) && ok;
    const std::string text = FormatButtonSlot(slot, image->dpiStep);
    Update([&](ConfigImage& m) {
        m.buttons[static_cast<std::size_t>(profile)][static_cast<std::size_t>(button)] = {slot,
                                                                                          text};
        StoreSlotBytes(m, profile, button, slot);
    });
    if (!ok) return commands_.NotTakenSince(path_, mark, "button assignment");
    return {};
}

// ---- Operations on a private copy (macro memory) ----

Status ConfigModel::ImageCopy::WriteButton(int profile, int button, ButtonSlot slot) {
    const uint64_t mark = model_.commands_.FailureMark();
    const ImageLayout& layout = image_.Layout();
    if (Status ok = CheckButton(layout, profile, button); !ok) return ok;
    // The type byte says what the operands mean, so it is 0 (the button's default) while
    // they change: a macro button never runs a half-written code address, whenever the
    // writes stop. Stored bytes follow each write that went out.
    const auto bytes = slot.Bytes();
    ButtonSlot held = slot;
    auto put = [&](int plane, uint8_t value) {
        const uint32_t at = layout.SlotByteAddress(profile, button, plane);
        if (!model_.commands_.WriteMemoryByte(model_.path_, at, value)) return false;
        if (at < image_.bytes.size()) image_.bytes[at] = value;
        return true;
    };
    const uint32_t typeAt = layout.SlotByteAddress(profile, button, 0);
    const bool holdsFunction = typeAt >= image_.bytes.size() || image_.bytes[typeAt] != 0;
    bool ok = true;
    if (slot.type == 0 || holdsFunction) ok = put(0, 0);
    for (int plane = 1; ok && plane < kPlaneCount; ++plane) {
        ok = put(plane, bytes[static_cast<std::size_t>(plane)]);
    }
    if (ok && slot.type != 0) ok = put(0, slot.type);
    if (!ok) {
        std::array<uint8_t, kPlaneCount> now{};
        for (int plane = 0; plane < kPlaneCount; ++plane) {
            const uint32_t at = layout.SlotByteAddress(profile, button, plane);
            if (at < image_.bytes.size()) now[static_cast<std::size_t>(plane)] = image_.bytes[at];
        }
        held = {now[0], now[1], now[2], now[3]};
    }
    const auto j = static_cast<std::size_t>(button);
    image_.buttons[static_cast<std::size_t>(profile)][j] =
        held.type == 0 ? image_.defaults[j]
                       : ShownSlot{held, FormatButtonSlot(held, image_.dpiStep)};
    if (!ok) return model_.commands_.NotTakenSince(model_.path_, mark, "button assignment");
    return {};
}

Status ConfigModel::WithImageCopy(const std::function<Status(ImageCopy&)>& operation) {
    WorkLock lock(work_);
    if (Status ok = RequireLoaded(); !ok) return ok;
    ImageCopy copy(*this, *Snapshot());
    Status result = operation(copy);
    Update([&](ConfigImage& image) {
        image.macros = copy.image_.macros;
        image.buttons = copy.image_.buttons;
        image.bytes = copy.image_.bytes;
        image.soleLeftClickButton = FindSoleLeftClickButton(image, shownButtons_);
    });
    return result;
}

Status ConfigModel::AssignButton(int profile, int button, uint8_t type, uint8_t op1, uint8_t op2,
                                 uint8_t op3) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    if (Status ok = CheckProfile(profile); !ok) return ok;
    if (button < 0 || button >= Snapshot()->ButtonCount()) {
        return MakeError("button " + std::to_string(button) + " does not exist on this device");
    }
    // "Default" goes to the device as the default's own bytes, never as 0.
    const ButtonSlot slot = type == 0 ? DefaultAssignment(button) : ButtonSlot{type, op1, op2, op3};
    const bool before = Notify();
    Status written = WriteSlotLocked(profile, button, slot, false);
    const bool after = Notify();
    RecomputeSoleLeftClickButton();
    if (!written) return written;
    if (!before || !after)
        return commands_.NotTakenSince(path_, mark, "update notice around the button assignment");
    return {};
}

// ---- Key-cycle lists ----

Status ConfigModel::SetKeyCycleList(int profile, std::span<const KeyCycleEntry> entries) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = CheckProfile(profile); !ok) return ok;
    if (entries.size() > static_cast<std::size_t>(kKeyCycleMaxCount)) {
        return MakeError("a key-cycle list holds at most " + std::to_string(kKeyCycleMaxCount) +
                         " keys, not " + std::to_string(entries.size()));
    }
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    const uint32_t at = Snapshot()->Layout().KeyCycleAddress(profile);
    // Count and every pair position; the kept bytes after the pairs are not written.
    std::array<uint8_t, kKeyCycleEntriesAt + 2 * kKeyCycleMaxCount> head{};
    head[0] = static_cast<uint8_t>(entries.size());
    for (std::size_t k = 0; k < entries.size(); ++k) {
        head[kKeyCycleEntriesAt + 2 * k] = entries[k].modifiers;
        head[kKeyCycleEntriesAt + 2 * k + 1] = entries[k].usage;
    }
    bool ok = Notify();
    ok = commands_.WriteMemory(path_, at, head) && ok;
    ok = Notify() && ok;
    Update([&](ConfigImage& image) {
        auto& list = image.keyCycles[static_cast<std::size_t>(profile)].bytes;
        std::copy(head.begin(), head.end(), list.begin());
        if (at + head.size() <= image.bytes.size()) {
            std::copy(head.begin(), head.end(), image.bytes.begin() + at);
        }
    });
    if (!ok) return commands_.NotTakenSince(path_, mark, "key-cycle list");
    return {};
}

// ---- Profiles ----

Status ConfigModel::SetProfileName(int profile, std::string_view name) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = CheckProfile(profile); !ok) return ok;
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    const std::string kept = TruncateUtf16Units(name, kNameWriteChars);
    const ImageLayout& layout = Snapshot()->Layout();
    const auto field = EncodeUtf16LeField(kept, kNameWriteBytes);
    // An empty name reads back as the profile word and number; show it that way now.
    const std::string shown = kept.empty() ? Ui().profile_str + std::to_string(profile + 1) : kept;
    const bool ok =
        commands_.WriteMemory(path_, layout.ProfileAddress(profile) + layout.nameAt, field);
    Update([&](ConfigImage& image) {
        image.profiles[static_cast<std::size_t>(profile)].name = shown;
    });
    if (!ok) return commands_.NotTakenSince(path_, mark, "profile name");
    return {};
}

Status ConfigModel::SetProfileColour(int profile, uint8_t red, uint8_t green, uint8_t blue) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = CheckProfile(profile); !ok) return ok;
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    const ImageLayout& layout = Snapshot()->Layout();
    const uint32_t block = layout.ProfileAddress(profile);
    Rgb shown{red, green, blue};
    bool ok = true;
    if (layout.colourPacked) {
        constexpr uint8_t kTwoBitMax = 3;
        if (red > kTwoBitMax || green > kTwoBitMax || blue > kTwoBitMax) {
            return MakeError("this device takes profile colours of 0 to 3 a channel");
        }
        shown = {Expand2Bit(red), Expand2Bit(green), Expand2Bit(blue)};
        const std::array<uint8_t, 4> bytes{PackColour(red, green, blue), shown.red, shown.green,
                                           shown.blue};
        ok = commands_.WriteMemory(path_, block + layout.colourAt, bytes);
    } else {
        // The middle class shows the colour at once; the newest class has no such command.
        if (layout.cls == LayoutClass::B)
            ok = commands_.SetLiveProfileColour(path_, red, green, blue);
        const std::array<uint8_t, 4> bytes{kColourControlAfterChange, red, green, blue};
        ok = commands_.WriteMemory(path_, block + *layout.colourControl, bytes) && ok;
    }
    Update([&](ConfigImage& image) {
        image.profiles[static_cast<std::size_t>(profile)].colour = shown;
    });
    if (!ok) return commands_.NotTakenSince(path_, mark, "profile colour");
    return {};
}

Status ConfigModel::SetActiveProfile(int profile) {
    if (Status ok = RequireLoaded(); !ok) return ok;
    WorkLock lock(work_);
    return SelectProfileLocked(profile);
}

Status ConfigModel::SelectProfileLocked(int profile) {
    const uint64_t mark = commands_.FailureMark();
    if (Status ok = CheckProfile(profile); !ok) return ok;
    if (!commands_.SetActiveProfile(path_, profile))
        return commands_.NotTakenSince(path_, mark, "profile selection");
    std::lock_guard lock(published_);
    ConfigImage copy = *current_;
    copy.currentProfile = profile;
    copy.soleLeftClickButton = FindSoleLeftClickButton(copy, shownButtons_);
    current_ = std::make_shared<const ConfigImage>(std::move(copy));
    return {};
}

}  // namespace qvm
