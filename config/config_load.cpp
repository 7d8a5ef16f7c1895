// Loading the configuration image from the device, and the factory reset.
#include <algorithm>

#include "config/config_image.h"
#include "config/memory_top.h"
#include "device/commands.h"
#include "lang/ui_strings.h"

namespace qvm {
namespace {

// Progress: the image read runs to 60 %, the macro directory to 80 %, the buttons to 100 %.
constexpr int kReadDone = 60;
constexpr int kMacrosDone = 80;
constexpr int kAllDone = 100;

constexpr std::size_t kLiveStageValue = 0;
constexpr std::size_t kLiveProfileValue = 5;
constexpr std::size_t kInfoProfileCount = 0;
constexpr std::size_t kInfoStageCount = 1;
constexpr int kMaxShownStages = 4;
constexpr uint8_t kNoFunction = 1;
constexpr int kResetPiece = 32;
constexpr int kResetLightingEffect = 2;
constexpr int kSettleMs = 10;
constexpr int kStageAfterReset = 1;
constexpr int kProfileAfterReset = 0;

const Error kCancelled{"the load was cancelled"};

Error Uninitialised() {
    return MakeError(ErrorKind::Uninitialised,
                     "the device memory holds no configuration (it is uninitialised); "
                     "'qvmctl reset' initialises it");
}

// Why the device did not answer the load, as the device's failure says.
Error Lost(const DeviceCommands& commands, const std::string& path) {
    return commands.FailureOr(path, "the device left").ToError();
}

void Report(const ConfigModel::Progress& progress, int percent) {
    if (progress) progress(percent);
}

std::optional<uint8_t> ReadMarker(DeviceCommands& commands, const std::string& path) {
    std::array<uint8_t, 1> b{};
    if (!commands.ReadMemory(path, kMarkerAddress, b, false)) return std::nullopt;
    return b[0];
}

}  // namespace

Status ConfigModel::LoadConfiguration(const Progress& progress, std::stop_token stop) {
    WorkLock lock(work_);
    return LoadLocked(progress, stop);
}

Status ConfigModel::LoadLocked(const Progress& progress, std::stop_token stop) {
    const DeviceValues values = commands_.Values().Get(path_);
    const ImageLayout& layout = LayoutForGeneration(values.ProtocolGeneration);
    ConfigImage image;
    image.protocolGeneration = values.ProtocolGeneration;
    image.extendedLayout = values.ExtendedLayoutFlag != 0;
    image.layoutClass = layout.cls;
    MemoryCache& cache = commands_.Cache();
    if (cache.Path() == path_) cache.Activate(path_, cache.Enabled());
    Report(progress, 0);

    auto top = LearnMemoryTop(commands_, path_);
    if (!top && top.kind() == ErrorKind::Uninitialised) return NoConfiguration(std::move(image));
    if (!top) return top.error();
    image.memoryTop = *top;
    // A class C device without the marker was never initialised. The load only reads:
    // the factory reset that initialises it is the user's choice (ResetConfiguration).
    if (layout.cls == LayoutClass::C) {
        const auto marker = ReadMarker(commands_, path_);
        if (!marker) return Lost(commands_, path_);
        if (*marker != kInitMarker) return NoConfiguration(std::move(image));
    }
    image.dpiStep = DpiStepFor(values.IdentByte1);
    image.dpiStepCount = DpiStepCountFor(values.IdentByte1, values.IdentByte2);
    if (stop.stop_requested()) return kCancelled;

    const LiveState live = commands_.ReadLiveState(path_);
    image.currentProfile = std::min<int>(live[kLiveProfileValue].value_or(0), kProfileCount - 1);
    if (!layout.stageIndexInImage) {
        image.currentDpiStage =
            std::min<int>(live[kLiveStageValue].value_or(0) & kStageIndexMask, kMaxStageIndex);
    }
    const InfoValues info = commands_.ReadInfoRecord(path_, 1);
    image.profileCount = std::min<int>(info.values[kInfoProfileCount], kProfileCount);
    image.dpiStageCount = std::min<int>(info.values[kInfoStageCount], kMaxShownStages);

    if (Status read = ReadImage(image, progress, stop); !read) return read;
    DecodeImageBytes(image.bytes, layout, Ui().profile_str, image);
    if (stop.stop_requested()) return kCancelled;

    Status macros = LoadMacroSlots(
        commands_, path_, layout, image.bytes, layout.HeapStart(values.ExtendedLayoutFlag != 0),
        *image.memoryTop, image.macros, [&](int done) {
            Report(progress, kReadDone + (kMacrosDone - kReadDone) * done / kMacroSlotCount);
        });
    if (!macros) return Lost(commands_, path_);
    if (stop.stop_requested()) return kCancelled;

    ResolveButtons(image, progress);
    // The defaults of the long classes come from the device itself; a device that left
    // meanwhile would have answered zeros. One more look tells.
    if (!ReadMarker(commands_, path_)) return Lost(commands_, path_);
    if (stop.stop_requested()) return kCancelled;

    {
        std::lock_guard lock(published_);
        image.soleLeftClickButton = FindSoleLeftClickButton(image, shownButtons_);
    }
    image.loaded = true;
    Publish(std::move(image));
    Report(progress, kAllDone);
    return {};
}

Status ConfigModel::NoConfiguration(ConfigImage empty) {
    // What was shown before is no longer in the device: nothing stays on show. The
    // memory top stays known when it was learnt (a backup or restore needs it).
    Publish(std::move(empty));
    return Uninitialised();
}

Status ConfigModel::ReadImage(ConfigImage& image, const Progress& progress, std::stop_token stop) {
    const ImageLayout& layout = image.Layout();
    image.bytes.assign(layout.readLength, 0);
    const std::span<uint8_t> all(image.bytes);
    for (uint32_t at = 0; at < layout.readLength; at += layout.readRequest) {
        const uint32_t n = std::min(layout.readRequest, layout.readLength - at);
        if (!commands_.ReadMemory(path_, at, all.subspan(at, n), false)) {
            return Lost(commands_, path_);
        }
        if (stop.stop_requested()) return kCancelled;
        Report(progress, static_cast<int>(kReadDone * (at + n) / layout.readLength));
    }
    return {};
}

void ConfigModel::ResolveButtons(ConfigImage& image, const Progress& progress) {
    const int count = image.ButtonCount();
    for (int j = 0; j < kMaxButtons; ++j) {
        const auto ji = static_cast<std::size_t>(j);
        const ButtonSlot def = j < count ? DefaultAssignment(j) : ButtonSlot{kNoFunction, 0, 0, 0};
        image.defaults[ji] = {def, FormatButtonSlot(def, image.dpiStep)};
        image.defaultTypes[ji] = def.type;
        Report(progress, kMacrosDone + (kAllDone - kMacrosDone) * (j + 1) / (kMaxButtons + 1));
    }
    for (auto& profile : image.buttons) {
        for (int j = 0; j < kMaxButtons; ++j) {
            ShownSlot& shown = profile[static_cast<std::size_t>(j)];
            if (j >= count || shown.slot.type == 0) {
                shown = image.defaults[static_cast<std::size_t>(j)];
            } else {
                shown.text = FormatButtonSlot(shown.slot, image.dpiStep);
            }
        }
    }
}

// ---- Factory reset ----

Status ConfigModel::ResetConfiguration(ResetColours colours, const Progress& progress) {
    // Before the model's lock: a flush in progress ends first, and nothing stale follows.
    deferred_.Cancel();
    WorkLock lock(work_);
    return ResetLocked(colours, progress);
}

Status ConfigModel::ResetLocked(ResetColours colours, const Progress& progress) {
    // The factory image stops at the first write that fails, and says how far it got.
    uint32_t written = 0;
    uint32_t total = 0;
    const auto failed = [&] {
        return StoppedWriteError(commands_.FailureOr(path_,
                                                     "the device did not take the "
                                                     "factory settings"),
                                 written, total, "reset", "reset again");
    };
    const DeviceValues values = commands_.Values().Get(path_);
    const int32_t g = values.ProtocolGeneration;
    const bool extended = values.ExtendedLayoutFlag != 0;
    const ImageLayout& layout = LayoutForGeneration(g);
    const auto previous = Snapshot();
    Report(progress, 0);

    for (uint32_t at : kProbeMarkerAddresses) {
        if (!commands_.WriteMemoryByte(path_, at, 0)) return failed();
    }

    std::vector<uint8_t> bytes(layout.HeapStart(extended), 0);
    bytes[kMarkerAddress] = kInitMarker;
    const auto stages = DefaultDpiStages(values.IdentByte1);
    for (std::size_t k = 0; k < stages.size(); ++k) {
        bytes[layout.dpiBase + 2 * k] = stages[k];
        bytes[layout.dpiBase + 2 * k + 1] = stages[k];
    }
    bytes[layout.optionsByte] = kResetRateCode << kRateShift;
    if (layout.resetStageIndex) bytes[*layout.resetStageIndex] = kStageAfterReset;
    for (int p = 0; p < kProfileCount; ++p) {
        const auto pi = static_cast<std::size_t>(p);
        uint8_t* block = bytes.data() + layout.ProfileAddress(p);
        if (layout.colourPacked) {
            block[0] = kInitMarker;
            block[1] = kInitMarker;
            const Rgb& now = previous->profiles[pi].colour;
            block[layout.colourAt] =
                colours == ResetColours::Defaults
                    ? DefaultPackedColours()[pi]
                    : PackColour(Reduce8Bit(now.red), Reduce8Bit(now.green), Reduce8Bit(now.blue));
        } else {
            const Rgb& c = DefaultProfileColours()[pi];
            block[*layout.colourControl] = kColourControlAfterReset;
            block[layout.colourAt] = c.red;
            block[layout.colourAt + 1] = c.green;
            block[layout.colourAt + 2] = c.blue;
        }
    }

    const std::span<const uint8_t> all(bytes);
    total = static_cast<uint32_t>(all.size());
    if (!Notify()) return failed();
    for (std::size_t at = 0; at < all.size(); at += kResetPiece) {
        const auto piece = all.subspan(at, std::min<std::size_t>(kResetPiece, all.size() - at));
        if (!commands_.WriteMemoryBlock(path_, static_cast<uint32_t>(at), piece)) return failed();
        written = static_cast<uint32_t>(at + piece.size());
        Report(progress, static_cast<int>(kAllDone * written / all.size()));
    }
    if (!commands_.WriteMemoryByte(path_, layout.stageFlagsByte, 0)) return failed();
    if (layout.cls != LayoutClass::A && g > 1 && extended &&
        !commands_.SetLightingEffect(path_, kResetLightingEffect)) {
        return failed();
    }
    if (g > 2 && g <= 10 && extended && !commands_.RefreshLighting(path_)) return failed();
    if (!commands_.ReloadSettings(path_)) return failed();
    commands_.GetTransport().GetClock().SleepMs(kSettleMs);

    // Classes A and B carry no memory size: the size marks at the top tell the next
    // load, which only reads, what the probe learns here.
    if (layout.cls != LayoutClass::C && !ProbeMacroMemoryEnd(commands_, path_)) return failed();
    if (Status loaded = LoadLocked(progress, {}); !loaded) return loaded;
    if (Status s = SelectStageLocked(kStageAfterReset); !s) return s;
    if (Status s = SelectProfileLocked(kProfileAfterReset); !s) return s;
    if (!Notify()) return commands_.FailureOr(path_, "the device did not take the reset").ToError();
    return {};
}

}  // namespace qvm
