#include "lighting/mouse_lighting.h"

#include <algorithm>
#include <string>
#include <vector>

#include "device/commands.h"

namespace qvm {
namespace {

Status CheckEffectGeneration(int32_t generation) {
    if (generation < kFirstLightingGeneration) {
        return MakeError(ErrorKind::BadInput, "this mouse (protocol generation " +
                                                  std::to_string(generation) +
                                                  ") has no lighting effect");
    }
    return {};
}

// The device's LED table, or why the edits cannot go to it.
Result<LedTableLayout> TableFor(DeviceCommands& commands, const std::string& path) {
    const DeviceValues values = commands.Values().Get(path);
    const auto table = LedTableFor(values.ProtocolGeneration, values.ExtendedLayoutFlag != 0);
    if (!table) return MakeError(ErrorKind::BadInput, "this mouse has no LED colours");
    return *table;
}

Status CheckEdits(std::span<const LedEdit> edits) {
    if (edits.empty()) return MakeError(ErrorKind::BadInput, "no LED was given");
    for (const LedEdit& e : edits) {
        if (e.led < 0 || e.led >= kLedCount) {
            return MakeError(ErrorKind::BadInput, "LED " + std::to_string(e.led) +
                                                      " is outside 0 to " +
                                                      std::to_string(kLedCount - 1));
        }
    }
    return {};
}

// Keeps the image's stored bytes in step with a write that reached the device.
void KeepBytes(ConfigImage& image, uint32_t address, std::span<const uint8_t> bytes) {
    if (address + bytes.size() > image.bytes.size()) return;
    std::copy(bytes.begin(), bytes.end(), image.bytes.begin() + address);
}

bool NeedsRefresh(int32_t generation) {
    return generation < kFirstWideLedGeneration;
}

}  // namespace

Result<int> MouseLightingEffect(const ConfigImage& image) {
    if (Status ok = CheckEffectGeneration(image.protocolGeneration); !ok) return ok.error();
    if (image.bytes.size() <= kLightingEffectAddress) {
        return MakeError(ErrorKind::BadInput, "no configuration has been loaded from the device");
    }
    return static_cast<int>(image.bytes[kLightingEffectAddress]);
}

Status SetMouseLightingEffect(ConfigModel& model, int effect) {
    if (effect < 0 || effect > kMaxMouseLightingEffect) {
        return MakeError(ErrorKind::BadInput, "lighting effect " + std::to_string(effect) +
                                                  " is outside 0 to " +
                                                  std::to_string(kMaxMouseLightingEffect));
    }
    return model.WithImageCopy([&](ConfigModel::ImageCopy& copy) -> Status {
        DeviceCommands& commands = copy.Commands();
        const std::string& path = copy.Path();
        if (Status ok = CheckEffectGeneration(commands.Values().Generation(path)); !ok) return ok;
        const uint64_t mark = commands.FailureMark();
        if (!commands.SetLightingEffect(path, effect)) {
            return commands.NotTakenSince(path, mark, "lighting effect");
        }
        const uint8_t byte = static_cast<uint8_t>(effect);
        KeepBytes(copy.Image(), kLightingEffectAddress, std::span(&byte, 1));
        return {};
    });
}

Status PreviewLedColours(ConfigModel& model, std::span<const LedEdit> edits) {
    if (Status ok = CheckEdits(edits); !ok) return ok;
    return model.WithImageCopy([&](ConfigModel::ImageCopy& copy) -> Status {
        DeviceCommands& commands = copy.Commands();
        const std::string& path = copy.Path();
        if (auto table = TableFor(commands, path); !table) return table.error();
        const uint64_t mark = commands.FailureMark();
        for (const LedEdit& e : edits) {
            if (!commands.PreviewLedColour(path, static_cast<uint8_t>(e.led), kLedPreviewExtra,
                                           e.record)) {
                return commands.NotTakenSince(path, mark,
                                              "preview of LED " + std::to_string(e.led));
            }
        }
        return {};
    });
}

Status StoreLedColours(ConfigModel& model, std::span<const LedEdit> edits) {
    if (Status ok = CheckEdits(edits); !ok) return ok;
    return model.WithImageCopy([&](ConfigModel::ImageCopy& copy) -> Status {
        DeviceCommands& commands = copy.Commands();
        const std::string& path = copy.Path();
        const auto table = TableFor(commands, path);
        if (!table) return table.error();
        const bool refresh = NeedsRefresh(commands.Values().Generation(path));
        for (const LedEdit& e : edits) {
            const uint64_t mark = commands.FailureMark();
            const uint32_t address = table->RecordAddress(e.led);
            const LedRecordBytes bytes = EncodeLedRecord(e.record);
            bool ok = false;
            commands.Bracketed(path, [&] {
                ok = commands.WriteMemoryBlock(path, address, bytes);
                if (ok && refresh) ok = commands.RefreshLighting(path);
            });
            // A notice that failed after the write went through still leaves the device
            // holding the colour, but the user has to know the device is in trouble.
            if (!ok || commands.GetTransport().FailureSince(path, mark)) {
                return commands.NotTakenSince(path, mark, "colour of LED " + std::to_string(e.led));
            }
            KeepBytes(copy.Image(), address, bytes);
        }
        return {};
    });
}

Status PreviewLedColour(ConfigModel& model, int led, const LedColour& record) {
    const LedEdit edit{led, record};
    return PreviewLedColours(model, std::span(&edit, 1));
}

Status StoreLedColour(ConfigModel& model, int led, const LedColour& record) {
    const LedEdit edit{led, record};
    return StoreLedColours(model, std::span(&edit, 1));
}

Rgb LedProfileColour(const ConfigImage& image) {
    const int profile = std::clamp(image.currentProfile, 0, kProfileCount - 1);
    return image.profiles[static_cast<std::size_t>(profile)].colour;
}

namespace {

LedTable DecodeTable(std::span<const uint8_t> bytes) {
    LedTable leds{};
    for (int i = 0; i < kLedCount; ++i) {
        leds[static_cast<std::size_t>(i)] = DecodeLedRecord(
            bytes.subspan(static_cast<std::size_t>(kLedRecordBytes * i)).first<kLedRecordBytes>());
    }
    return leds;
}

Result<LedTable> DecodeLoadedTable(const LedTableLayout& table, const ConfigImage& image) {
    if (table.base + table.Bytes() > image.bytes.size()) {
        return MakeError(ErrorKind::BadInput,
                         "the loaded configuration does not reach the LED colours");
    }
    return DecodeTable(std::span(image.bytes).subspan(table.base, table.Bytes()));
}

}  // namespace

Result<LedTable> LoadedLedTable(ConfigModel& model) {
    Result<LedTable> leds = MakeError(ErrorKind::BadInput, "no configuration has been loaded");
    Status status = model.WithImageCopy([&](ConfigModel::ImageCopy& copy) -> Status {
        const auto table = TableFor(copy.Commands(), copy.Path());
        if (!table) return table.error();
        leds = DecodeLoadedTable(*table, copy.Image());
        return leds.ok() ? Status{} : Status(leds.error());
    });
    if (!status) return status.error();
    return leds;
}

Result<LedTable> LedTableOf(const ConfigImage& image) {
    const auto table = LedTableFor(image.protocolGeneration, image.extendedLayout);
    if (!table) return MakeError(ErrorKind::BadInput, "this mouse has no LED colours");
    return DecodeLoadedTable(*table, image);
}

Result<LedTable> ReadLedTable(ConfigModel& model) {
    LedTable leds{};
    Status status = model.WithImageCopy([&](ConfigModel::ImageCopy& copy) -> Status {
        DeviceCommands& commands = copy.Commands();
        const std::string& path = copy.Path();
        const auto table = TableFor(commands, path);
        if (!table) return table.error();
        std::array<uint8_t, kLedRecordBytes * kLedCount> bytes{};
        const uint64_t mark = commands.FailureMark();
        bool ok = false;
        commands.Bracketed(path,
                           [&] { ok = commands.ReadMemory(path, table->base, bytes, false); });
        if (!ok) return commands.NotTakenSince(path, mark, "read of the LED colours");
        KeepBytes(copy.Image(), table->base, bytes);
        leds = DecodeTable(bytes);
        return {};
    });
    if (!status) return status.error();
    return leds;
}

}  // namespace qvm
