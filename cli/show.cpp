#include "cli/show.h"

#include <cstdio>

#include "cli/commands.h"
#include "cli/json.h"
#include "cli/macro_cli.h"
#include "cli/parse.h"
#include "config/button_text.h"
#include "config/catalogue.h"
#include "present/info_text.h"

namespace qvm::cli {
namespace {

std::string Hex4(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

const ShownSlot& SlotAt(const ConfigImage& image, int profile, int slot) {
    return image.buttons[static_cast<std::size_t>(profile)][static_cast<std::size_t>(slot)];
}

}  // namespace

char LayoutClassLetter(int32_t generation) {
    return generation <= 0 ? 'A' : generation <= 10 ? 'B' : 'C';
}

void PrintDeviceValues(std::ostream& out, const std::string& path, const DeviceValues& v,
                       const ModelLayout& layout) {
    out << "path: " << Shown(path) << '\n'
        << "model: " << Shown(GetModelName(v)) << " (code " << v.ModelCode << ")\n"
        << "protocol generation: " << v.ProtocolGeneration << " (layout class "
        << LayoutClassLetter(v.ProtocolGeneration) << ")\n"
        << "firmware: " << FirmwareVersionText(v.FirmwareVersion) << '\n'
        << "device class: " << v.DeviceClass << '\n'
        << "feature flags: " << Hex4(static_cast<uint32_t>(v.FeatureFlags)) << '\n'
        << "ident bytes: " << v.IdentByte1 << ' ' << v.IdentByte2 << ' ' << v.IdentByte3 << ' '
        << v.IdentByte4 << '\n'
        << "extended layout: " << (v.ExtendedLayoutFlag ? "yes" : "no") << '\n';
    if (!v.ContainerId.empty()) out << "container: " << Shown(v.ContainerId) << '\n';
    if (!v.ProductName.empty()) out << "product: " << Shown(v.ProductName) << '\n';
    out << "button layout: " << layout.LayoutIndex << ", " << layout.ButtonCount << " buttons\n";
}

void PrintConfigText(std::ostream& out, const std::string& path, const DeviceValues& v,
                     const ConfigImage& image, const ModelLayout& layout) {
    out << Shown(GetModelName(v)) << " at " << Shown(path) << " (generation "
        << v.ProtocolGeneration << ", layout class " << LayoutClassLetter(v.ProtocolGeneration)
        << ", firmware " << FirmwareVersionText(v.FirmwareVersion) << ")\n";
    if (image.memoryTop) out << "memory top: " << Hex4(*image.memoryTop) << '\n';
    out << "current profile: " << image.currentProfile + 1
        << "\ncurrent DPI stage: " << image.currentDpiStage + 1
        << "\nreport rate: " << ReportRateHz(image.reportRateCode) << " Hz"
        << "\nangle snapping: " << (image.angleSnapping ? "on" : "off") << "\nDPI stages (step "
        << image.dpiStep << ", up to " << image.dpiStep * image.dpiStepCount << "):\n";
    for (int k = 0; k < kDpiStageCount; ++k) {
        const DpiStage& s = image.dpiStages[static_cast<std::size_t>(k)];
        out << "  " << k + 1 << ": " << s.x * image.dpiStep << " x " << s.y * image.dpiStep
            << (image.stageFlags[static_cast<std::size_t>(k)] ? "  [flag]" : "") << '\n';
    }
    for (int p = 0; p < kProfileCount; ++p) {
        const ProfileInfo& info = image.profiles[static_cast<std::size_t>(p)];
        out << "profile " << p + 1 << ": \"" << Shown(info.name) << "\" " << ColourText(info.colour)
            << (info.off ? " (off)" : "") << (p == image.currentProfile ? " (active)" : "") << '\n';
        for (int b = 0; b < layout.ButtonCount; ++b) {
            const int slot = layout.ButtonOrder[static_cast<std::size_t>(b)];
            out << "  button " << b + 1 << ": "
                << Shown(ShownButtonText(image, SlotAt(image, p, slot)))
                << (image.soleLeftClickButton == slot && p == image.currentProfile
                        ? "  (sole left click)"
                        : "")
                << '\n';
        }
        const KeyCycleList& cycle = image.keyCycles[static_cast<std::size_t>(p)];
        if (cycle.Count() > 0) {
            out << "  key cycle:";
            for (int k = 0; k < cycle.Count(); ++k) {
                out << (k ? ", " : " ")
                    << Shown(KeyCombinationText(cycle.Modifiers(k), cycle.Usage(k)));
            }
            out << '\n';
        }
    }
    out << "macros:";
    bool any = false;
    for (std::size_t i = 0; i < image.macros.size(); ++i) {
        const MacroSlot& m = image.macros[i];
        if (m.Empty()) continue;
        out << "\n  " << i + 1 << ": \"" << Shown(m.name) << "\" " << MacroModeWord(m.mode) << ", "
            << m.length << " bytes at " << Hex4(static_cast<uint32_t>(m.start));
        any = true;
    }
    out << (any ? "\n" : " none\n");
}

void PrintConfigJson(std::ostream& out, const std::string& path, const DeviceValues& v,
                     const ConfigImage& image, const ModelLayout& layout) {
    JsonWriter j(out);
    j.BeginObject();
    j.Key("device").BeginObject();
    j.Key("path").String(path);
    j.Key("model").String(GetModelName(v));
    j.Key("generation").Int(v.ProtocolGeneration);
    j.Key("firmware").String(FirmwareVersionText(v.FirmwareVersion));
    j.Key("class").String(std::string(1, LayoutClassLetter(v.ProtocolGeneration)));
    j.EndObject();
    if (image.memoryTop) {
        j.Key("memory_top").Int(*image.memoryTop);
    } else {
        j.Key("memory_top").Null();
    }
    j.Key("current_profile").Int(image.currentProfile + 1);
    j.Key("current_stage").Int(image.currentDpiStage + 1);
    j.Key("report_rate_hz").Int(ReportRateHz(image.reportRateCode));
    j.Key("angle_snapping").Bool(image.angleSnapping);
    j.Key("dpi_step").Int(image.dpiStep);
    j.Key("dpi_max").Int(image.dpiStep * image.dpiStepCount);
    j.Key("stages").BeginArray();
    for (int k = 0; k < kDpiStageCount; ++k) {
        const DpiStage& s = image.dpiStages[static_cast<std::size_t>(k)];
        j.BeginObject();
        j.Key("x").Int(s.x).Key("y").Int(s.y);
        j.Key("x_dpi").Int(s.x * image.dpiStep).Key("y_dpi").Int(s.y * image.dpiStep);
        j.Key("flag").Bool(image.stageFlags[static_cast<std::size_t>(k)]);
        j.EndObject();
    }
    j.EndArray();
    j.Key("profiles").BeginArray();
    for (int p = 0; p < kProfileCount; ++p) {
        const ProfileInfo& info = image.profiles[static_cast<std::size_t>(p)];
        j.BeginObject();
        j.Key("name").String(info.name);
        j.Key("colour").BeginArray();
        j.Int(info.colour.red).Int(info.colour.green).Int(info.colour.blue).EndArray();
        j.Key("off").Bool(info.off);
        j.Key("buttons").BeginArray();
        for (int b = 0; b < layout.ButtonCount; ++b) {
            const int slot = layout.ButtonOrder[static_cast<std::size_t>(b)];
            const ShownSlot& s = SlotAt(image, p, slot);
            j.BeginObject();
            j.Key("button").Int(b + 1).Key("slot").Int(slot);
            j.Key("type").Int(s.slot.type);
            j.Key("ops").BeginArray().Int(s.slot.op1).Int(s.slot.op2).Int(s.slot.op3).EndArray();
            j.Key("text").String(s.text);
            j.EndObject();
        }
        j.EndArray();
        j.Key("key_cycle").BeginArray();
        const KeyCycleList& cycle = image.keyCycles[static_cast<std::size_t>(p)];
        for (int k = 0; k < cycle.Count(); ++k) {
            j.BeginObject();
            j.Key("modifiers").Int(cycle.Modifiers(k)).Key("usage").Int(cycle.Usage(k));
            j.Key("text").String(KeyCombinationText(cycle.Modifiers(k), cycle.Usage(k)));
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
    }
    j.EndArray();
    j.Key("macros").BeginArray();
    for (std::size_t i = 0; i < image.macros.size(); ++i) {
        const MacroSlot& m = image.macros[i];
        if (m.Empty()) continue;
        j.BeginObject();
        j.Key("slot").Int(static_cast<long long>(i) + 1).Key("name").String(m.name);
        j.Key("mode").String(MacroModeWord(m.mode));
        j.Key("start").Int(m.start).Key("length").Int(m.length);
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
}

}  // namespace qvm::cli
