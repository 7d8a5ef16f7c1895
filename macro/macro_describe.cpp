#include "macro/macro_describe.h"

#include <array>
#include <cctype>
#include <initializer_list>
#include <vector>

#include "config/catalogue.h"
#include "macro/macro_item.h"

namespace qvm {
namespace {

// macro_str entries that describe instructions.
enum MacroStrIndex : std::size_t {
    kStrModeOnce = 0,
    kStrModeLoop = 1,
    kStrModeFireKey = 2,
    kStrKeyDown = 3,
    kStrKeyUp = 4,
    kStrJump = 6,
    kStrDecrementJump = 7,
    kStrSetAcc = 8,
    kStrConsumerRelease = 9,
    kStrConsumerDown = 10,
    kStrMove = 11,
    kStrWheel = 12,
    kStrButtonDown = 13,
    kStrButtonUp = 14,
    kStrSystem = 15,
    kStrMoveTo = 16,
};

// The order in which a button list names the bits, with the macro_bt_str entry of each.
// Bit 0x10 comes before bit 0x08 and is the one called "B4".
struct ButtonName {
    uint8_t bit;
    std::size_t entry;
};
constexpr std::array<ButtonName, 5> kButtonListOrder = {{
    {kMacroButtonLeft, 0},
    {kMacroButtonRight, 1},
    {kMacroButtonMiddle, 2},
    {kMacroButton5, 3},
    {kMacroButton4, 4},
}};

constexpr int kWheelSignBit = 0x10;
constexpr int kWheelRange = 0x20;

// Operand offsets inside an instruction.
constexpr std::size_t kOperand1 = 1;
constexpr std::size_t kOperand2 = 3;

unsigned ReadU16(const MacroItem& item, std::size_t at) {
    return MacroItemWord(item, at);
}
int ReadS16(const MacroItem& item, std::size_t at) {
    return static_cast<int16_t>(static_cast<uint16_t>(ReadU16(item, at)));
}

std::string Fill(std::string_view templ, std::initializer_list<std::string> args) {
    const std::vector<std::string> list(args);
    return FillTextTemplate(templ, list);
}
std::string Fill(std::string_view templ, long long value) {
    return Fill(templ, {std::to_string(value)});
}

std::string ButtonList(const UiStrings& ui, uint8_t mask) {
    std::string list;
    for (const ButtonName& b : kButtonListOrder) {
        if (mask & b.bit) list += "[" + ui.macro_bt_str[b.entry] + "]";
    }
    return list;
}

int WheelCount(uint8_t opcode) {
    const int raw = opcode & kOperandMask;
    return (raw & kWheelSignBit) ? raw - kWheelRange : raw;
}

bool InRange(uint8_t opcode, uint8_t first, uint8_t last) {
    return opcode >= first && opcode <= last;
}

// Length of a conversion starting at templ[at] == '%' (flags, width, precision, length
// modifier, conversion letter), and its explicit position (0 when none); 0 when the
// text there is not a conversion this filler takes.
struct Conversion {
    std::size_t length = 0;
    std::size_t position = 0;
};
Conversion ScanConversion(std::string_view templ, std::size_t at) {
    std::size_t i = at + 1;
    auto digits = [&] {
        std::size_t value = 0;
        while (i < templ.size() && std::isdigit(static_cast<unsigned char>(templ[i]))) {
            if (value < 1000) value = value * 10 + static_cast<std::size_t>(templ[i] - '0');
            ++i;
        }
        return value;
    };
    Conversion c;
    const std::size_t start = i;
    const std::size_t number = digits();
    if (i < templ.size() && templ[i] == '$' && i > start && number > 0) {
        c.position = number;
        ++i;
    } else {
        i = start;
    }
    while (i < templ.size() && std::string_view("-+ 0#'").find(templ[i]) != std::string_view::npos)
        ++i;
    digits();
    if (i < templ.size() && templ[i] == '.') {
        ++i;
        digits();
    }
    while (i < templ.size() && std::string_view("hlLqjzt").find(templ[i]) != std::string_view::npos)
        ++i;
    if (i < templ.size() && std::string_view("sdiuxXc").find(templ[i]) != std::string_view::npos) {
        c.length = i + 1 - at;
    }
    return c;
}

}  // namespace

std::string FillTextTemplate(std::string_view templ, std::span<const std::string> args) {
    std::string out;
    std::size_t next = 0;
    std::size_t i = 0;
    while (i < templ.size()) {
        if (templ[i] != '%') {
            out += templ[i++];
            continue;
        }
        if (i + 1 < templ.size() && templ[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        const Conversion c = ScanConversion(templ, i);
        const std::size_t index = c.position > 0 ? c.position - 1 : next;
        if (c.length == 0 || index >= args.size()) {
            out += templ.substr(i, c.length == 0 ? 1 : c.length);
            i += c.length == 0 ? 1 : c.length;
            continue;
        }
        out += args[index];
        if (c.position == 0) ++next;
        i += c.length;
    }
    return out;
}

std::string DescribeMacroInstructionWith(const UiStrings& ui, std::span<const uint8_t> bytes) {
    const MacroItem item = DecodeMacroInstruction(bytes).item;
    const uint8_t op = item.Opcode();
    const auto& str = ui.macro_str;

    if (InRange(op, kOpButtonDown, kOpButtonDown | kOperandMask)) {
        return Fill(str[kStrButtonDown], {ButtonList(ui, op & kOperandMask)});
    }
    if (InRange(op, kOpButtonUp, kOpButtonUp | kOperandMask)) {
        return Fill(str[kStrButtonUp], {ButtonList(ui, op & kOperandMask)});
    }
    if (InRange(op, kOpWheel, kOpWheel | kOperandMask)) return Fill(str[kStrWheel], WheelCount(op));
    if (InRange(op, kOpSystemFirst, kOpSystemLast)) return str[kStrSystem];

    switch (op) {
        case kOpEnd:
        case kOpStop:
            return std::string(kMacroStopText);
        case kOpModeOnce:
            return str[kStrModeOnce];
        case kOpModeLoop:
            return str[kStrModeLoop];
        case kOpModeFireKey:
            return str[kStrModeFireKey];
        case kOpJump:
            return Fill(str[kStrJump], ReadU16(item, kOperand1));
        case kOpDecrementJump:
            return Fill(str[kStrDecrementJump], ReadU16(item, kOperand1));
        case kOpSetAcc:
            return Fill(str[kStrSetAcc], ReadU16(item, kOperand1));
        case kOpMove:
            return Fill(str[kStrMove], {std::to_string(ReadS16(item, kOperand1)),
                                        std::to_string(ReadS16(item, kOperand2))});
        case kOpKeyDown:
            return Fill(str[kStrKeyDown], {std::string(KeyName(item.code[kOperand1]))});
        case kOpKeyUp:
            return Fill(str[kStrKeyUp], {std::string(KeyName(item.code[kOperand1]))});
        case kOpConsumer: {
            const auto usage = static_cast<int>(ReadU16(item, kOperand1));
            if (usage == 0) return str[kStrConsumerRelease];
            std::string name = ConsumerNameWith(ui, usage);
            if (name.empty()) name = kMacroUnknownText;
            return Fill(str[kStrConsumerDown], {name});
        }
        case kOpWaitShort:
            return Fill(kMacroWaitTemplate, item.code[kOperand1]);
        case kOpWaitLong:
            return Fill(kMacroWaitTemplate, ReadU16(item, kOperand1));
        case kOpMoveToUnsigned:
            return Fill(str[kStrMoveTo], {std::to_string(ReadU16(item, kOperand1)),
                                          std::to_string(ReadU16(item, kOperand2))});
        case kOpMoveTo:
            return Fill(str[kStrMoveTo], {std::to_string(ReadS16(item, kOperand1)),
                                          std::to_string(ReadS16(item, kOperand2))});
        default:  // 0x81, 0x82 and every invalid opcode
            return std::string(kMacroUnknownText);
    }
}

std::string DescribeMacroInstruction(std::span<const uint8_t> bytes) {
    return DescribeMacroInstructionWith(Ui(), bytes);
}

}  // namespace qvm
