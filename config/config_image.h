// The configuration image: the decoded copy of the attached mouse's stored
// configuration (profiles, buttons, DPI stages, report rate, key-cycle lists, macro
// directory), and the ConfigModel that loads it, resets it and writes single settings
// back to the device.
//
// Readers never see a model half-loaded or half-edited: ConfigModel publishes finished
// ConfigImage copies through a shared pointer. A load builds a fresh image and swaps it
// in at the end; an edit copies the current image, changes the copy and swaps it in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "config/button_slot.h"
#include "config/deferred_writes.h"
#include "config/image_layout.h"
#include "config/macro_slots.h"

namespace qvm {

class DeviceCommands;

// What a factory reset does to the class A profile colours.
enum class ResetColours : uint8_t { Defaults, KeepCurrent };

struct DpiStage {
    uint8_t x = 0;
    uint8_t y = 0;
    bool operator==(const DpiStage&) const = default;
};

struct ProfileInfo {
    std::string name;  // as shown: "Profile" + number when the stored name is empty
    Rgb colour;        // 8-bit channels (class A: the 2-bit values widened)
    bool off = false;

    bool operator==(const ProfileInfo&) const = default;
};

// One key of a key-cycle list: a modifier mask and a key usage, as operands 1 and 2 of a
// keyboard function.
struct KeyCycleEntry {
    uint8_t modifiers = 0;
    uint8_t usage = 0;
    bool operator==(const KeyCycleEntry&) const = default;
};

// The keys the "Keyboard cycle" functions step through on one profile, kept as the 21
// stored bytes so the bytes past the entries survive a write-back.
struct KeyCycleList {
    std::array<uint8_t, kKeyCycleBytes> bytes{};

    int Count() const { return bytes[0]; }
    uint8_t Modifiers(int k) const {
        return bytes[static_cast<std::size_t>(kKeyCycleEntriesAt + 2 * k)];
    }
    uint8_t Usage(int k) const {
        return bytes[static_cast<std::size_t>(kKeyCycleEntriesAt + 2 * k + 1)];
    }
    KeyCycleEntry Entry(int k) const { return {Modifiers(k), Usage(k)}; }
    bool operator==(const KeyCycleList&) const = default;
};

// A button assignment with the text it is shown with.
struct ShownSlot {
    ButtonSlot slot;
    std::string text;
    bool operator==(const ShownSlot&) const = default;
};

struct ConfigImage {
    bool loaded = false;
    int32_t protocolGeneration = 0;
    bool extendedLayout = false;  // the device's extended memory layout flag
    LayoutClass layoutClass = LayoutClass::A;
    std::optional<uint32_t> memoryTop;
    int profileCount = 0;   // at most 5
    int dpiStageCount = 0;  // at most 4: stage rows the DPI page shows
    // The stages a user can work on: dpiStageCount, or all five when the device does not
    // report its count.
    int UsableDpiStages() const { return dpiStageCount > 0 ? dpiStageCount : kDpiStageCount; }
    int dpiStep = kDefaultDpiStep;
    int dpiStepCount = 0;
    int currentProfile = 0;
    int currentDpiStage = 0;
    bool angleSnapping = false;
    int reportRateCode = 0;
    std::array<bool, kDpiStageCount> stageFlags{};
    std::array<DpiStage, kDpiStageCount> dpiStages{};
    std::array<ProfileInfo, kProfileCount> profiles;
    // Slots at and above the class's button count hold the defaults.
    std::array<std::array<ShownSlot, kMaxButtons>, kProfileCount> buttons;
    std::array<ShownSlot, kMaxButtons> defaults;
    std::array<uint8_t, kMaxButtons> defaultTypes{};
    std::array<KeyCycleList, kProfileCount> keyCycles;
    MacroSlots macros;
    std::optional<int> soleLeftClickButton;
    std::vector<uint8_t> bytes;  // the configuration area as read, from address 0

    const ImageLayout& Layout() const { return LayoutOf(layoutClass); }
    int ButtonCount() const { return Layout().buttonCount; }
};

// Decodes the header, the profile blocks (off flag, colour, name), the key-cycle lists
// and the stored button bytes of `bytes` (read from address 0) into `out`. Texts, the
// defaults and the macro directory are left alone. An empty name becomes
// `profileWord` followed by the profile number.
void DecodeImageBytes(std::span<const uint8_t> bytes, const ImageLayout& layout,
                      std::string_view profileWord, ConfigImage& out);

// The one button among `shownButtons` whose slot in the current profile gives a left
// click; none when zero or several do.
std::optional<int> FindSoleLeftClickButton(const ConfigImage& image,
                                           std::span<const int> shownButtons);

class ConfigModel {
  public:
    using Progress = std::function<void(int percent)>;

    ConfigModel(DeviceCommands& commands, std::string path);
    ConfigModel(const ConfigModel&) = delete;
    ConfigModel& operator=(const ConfigModel&) = delete;

    const std::string& Path() const { return path_; }
    // The last finished image; never null (empty before the first load).
    std::shared_ptr<const ConfigImage> Snapshot() const;
    // The buttons the main window shows, for the sole left-click button.
    void SetShownButtons(std::span<const int> buttons);
    DeferredWrites& Deferred() { return deferred_; }

    // Reads and decodes the whole image; never writes device memory. Runs on the
    // caller's thread; the previous image stays readable until the new one is complete,
    // and stays when it fails ("the device left") or `stop` is requested. A device whose
    // memory holds no configuration (a class C device without the marker, or a memory
    // whose first bytes are all alike) fails with ErrorKind::Uninitialised and leaves an
    // empty image (not loaded, with the memory top when it could be learnt): only
    // ResetConfiguration or a restore initialises it.
    Status LoadConfiguration(const Progress& progress = {}, std::stop_token stop = {});
    // Cancels pending deferred writes, writes the factory image, reloads, then selects
    // DPI stage 1 and profile 0. Works on an uninitialised device too. Class A profile
    // colours become the default ones or keep the current ones, as the caller says (the
    // program's "EnableColor" setting).
    Status ResetConfiguration(ResetColours colours, const Progress& progress = {});

    // Single settings: each changes the model and writes the device.
    Status SetDpiStage(int stage, int x, int y);
    // Writes the model's values of `stages` between two update notices, the current
    // stage's live values first.
    Status WriteDpiStages(std::span<const int> stages);
    Status SetCurrentDpiStage(int stage);
    Status SetReportRate(int code);
    Status SetAngleSnapping(bool on);
    Status SetStageFlags(const std::array<bool, kDpiStageCount>& flags);
    Status SetButtonSlot(int profile, int button, ButtonSlot slot, bool reload = false);
    Status SetProfileName(int profile, std::string_view name);
    // Class A takes 2-bit channels (0..3); classes B and C 8-bit ones.
    Status SetProfileColour(int profile, uint8_t red, uint8_t green, uint8_t blue);
    Status AssignButton(int profile, int button, uint8_t type, uint8_t op1, uint8_t op2,
                        uint8_t op3);
    Status AssignSlot(int profile, int button, ButtonSlot slot) {
        return AssignButton(profile, button, slot.type, slot.op1, slot.op2, slot.op3);
    }
    Status SetActiveProfile(int profile);
    // Replaces the key-cycle list of `profile` (at most 8 entries; none clears it): the
    // count and the pairs, unused pairs zeroed, in one write between update notices. The
    // 4 bytes after the pairs stay as the device holds them.
    Status SetKeyCycleList(int profile, std::span<const KeyCycleEntry> entries);
    std::optional<int> RecomputeSoleLeftClickButton();

    // A private copy of the image that an operation run by WithImageCopy works on.
    class ImageCopy {
      public:
        ConfigImage& Image() { return image_; }
        DeviceCommands& Commands() { return model_.commands_; }
        const std::string& Path() const { return model_.path_; }
        // Writes one button to the device as SetButtonSlot does, and to the copy: its
        // stored bytes, and the shown slot (for type 0 the button's default, as a load
        // shows it). The type byte stays 0 while the operands change, so that the button
        // never runs a function (a macro's code address) half written; the writes stop at
        // the first that fails, and the copy holds what went out.
        Status WriteButton(int profile, int button, ButtonSlot slot);

      private:
        friend class ConfigModel;
        ImageCopy(ConfigModel& model, ConfigImage image)
            : model_(model), image_(std::move(image)) {}
        ConfigModel& model_;
        ConfigImage image_;
    };
    // Runs `operation` under the work lock, so that it overlaps no load, reset or other
    // write, on a private copy of the loaded image. At the end, whatever the operation
    // returned, the copy's macro slots, buttons and stored bytes are published: they hold
    // what was written to the device. Other fields of the published image are left as
    // they are, so a concurrent model-only Edit is not lost.
    Status WithImageCopy(const std::function<Status(ImageCopy&)>& operation);

    // Checks a DPI value against the loaded step count.
    Status ValidateDpiValue(int value) const;
    // Changes the model only, without device traffic (values whose write is deferred).
    void Edit(const std::function<void(ConfigImage&)>& change);

  private:
    using WorkLock = std::unique_lock<std::mutex>;

    Status LoadLocked(const Progress& progress, std::stop_token stop);
    Status ResetLocked(ResetColours colours, const Progress& progress);
    Status ReadImage(ConfigImage& image, const Progress& progress, std::stop_token stop);
    // Publishes `empty` (not loaded) and returns the Uninitialised error.
    Status NoConfiguration(ConfigImage empty);
    void ResolveButtons(ConfigImage& image, const Progress& progress);
    Status WriteStagesLocked(std::span<const int> stages);
    Status SelectStageLocked(int stage);
    Status SelectProfileLocked(int profile);
    Status WriteSlotLocked(int profile, int button, ButtonSlot slot, bool reload);
    ButtonSlot DefaultAssignment(int button);
    // NotifyUpdate where the device knows it (not in the 9-byte class).
    bool Notify();
    Status RequireLoaded() const;
    void Publish(ConfigImage image);
    void Update(const std::function<void(ConfigImage&)>& change);

    DeviceCommands& commands_;
    const std::string path_;
    DeferredWrites deferred_;

    // Lock order: DeferredWrites' lock -> work_ -> published_.
    std::mutex work_;  // one load, reset or device write at a time
    std::vector<int> shownButtons_;
    mutable std::mutex published_;
    std::shared_ptr<const ConfigImage> current_;
};

}  // namespace qvm
