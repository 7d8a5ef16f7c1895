// The model table: the layout decision rows, the button order rows and the model names.
#include "device/model_table.h"

namespace qvm {
namespace {

// Conditions on the protocol generation g.
enum class Gen { Any, Above0, AtMost0, Above10, From1To10 };

bool Holds(Gen condition, int32_t g) {
    switch (condition) {
        case Gen::Any:
            return true;
        case Gen::Above0:
            return g > 0;
        case Gen::AtMost0:
            return g <= 0;
        case Gen::Above10:
            return g > 10;
        case Gen::From1To10:
            return g >= 1 && g <= 10;
    }
    return false;
}

constexpr int kAnyCode = -1;

struct DecisionRow {
    std::array<int, 2> codes;  // kAnyCode: every model code
    Gen condition;
    int layout;
    int buttonCount;
    int buttonListCount;
    int specialButton;
    bool gamepad;
};

// The first row whose code and condition match decides; the last row catches the rest.
constexpr DecisionRow kDecisionRows[] = {
    {{9, 9}, Gen::Any, 1, 12, 15, -1, false},
    {{0, 0}, Gen::Any, 2, 10, 13, -1, false},
    {{1, 1}, Gen::Any, 3, 9, 12, -1, false},
    {{11, 11}, Gen::Above0, 6, 11, 20, -1, false},
    {{11, 11}, Gen::AtMost0, 4, 12, 15, -1, false},
    {{10, 10}, Gen::Any, 5, 10, 13, -1, false},
    {{14, 14}, Gen::Any, 5, 10, 13, -1, true},
    {{15, 18}, Gen::Above0, 7, 8, 23, -1, false},
    {{15, 18}, Gen::AtMost0, 7, 8, 15, -1, false},
    {{33, 33}, Gen::Any, 12, 12, 31, 11, false},
    {{34, 34}, Gen::Any, 12, 11, 31, -1, false},
    {{19, 20}, Gen::Above10, 8, 14, 31, -1, false},
    {{19, 20}, Gen::From1To10, 8, 14, 23, -1, false},
    {{21, 22}, Gen::Above10, 9, 10, 31, -1, false},
    {{21, 22}, Gen::From1To10, 9, 10, 23, -1, false},
    {{32, 32}, Gen::Any, 5, 9, 23, -1, false},
    {{23, 24}, Gen::Above10, 10, 9, 31, -1, false},
    {{23, 24}, Gen::From1To10, 10, 9, 23, -1, false},
    {{25, 26}, Gen::Above0, 13, 10, 31, -1, false},
    {{kAnyCode, kAnyCode}, Gen::Above10, 9, 10, 31, -1, false},
    {{kAnyCode, kAnyCode}, Gen::From1To10, 9, 10, 23, -1, false},
    {{kAnyCode, kAnyCode}, Gen::Any, 0, 10, 13, -1, false},
};

// Position -> configuration button slot; entries not listed are 0.
constexpr std::array<std::array<int, kLayoutPositions>, kLayoutCount> kOrderRows = {{
    {{0, 1, 2, 3, 4, 5, 6, 14, 15, 7, 11, 12, 13}},
    {{0, 1, 2, 3, 4, 14, 15, 10, 9, 11, 12, 13, 5, 6, 7, 8}},
    {{0, 1, 2, 3, 4, 5, 6, 14, 15, 7, 11, 12, 13}},
    {{0, 1, 2, 3, 4, 5, 6, 14, 15, 11, 12, 13, 7, 8}},
    {{0, 1, 2, 3, 4, 5, 6, 14, 15, 7, 11, 9, 10, 12, 13, 8}},
    {{0, 1, 2, 3, 4, 5, 6, 14, 15, 7, 11, 12, 13, 10, 8, 9}},
    {{0, 1, 2, 3, 4, 7, 8, 22, 23, 5, 6, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 9, 10}},
    {{0, 1, 2, 3, 4, 5, 23, 22, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 6}},
    {{0,  1,  2,  3,  4,  6,  7,  11, 10, 9,  8,  12, 22, 23, 13, 14,
      15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 5}},
    {{0,  1,  2,  3,  4,  7,  8,  6,  22, 23, 9,  10, 11, 12, 13, 14,
      15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 5}},
    {{0,  1,  2,  3,  4,  7,  6,  23, 22, 8,  9,  10, 11, 12, 13, 14,
      15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 5}},
    {{0,  1,  2,  5,  6,  4,  7,  8,  9,  10, 11, 12, 30, 31, 13, 14,
      15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 3}},
    {{0,  1,  2,  3,  4,  6,  7,  8,  9,  30, 31, 10, 5,  11, 12, 13,
      14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28}},
    {{0,  1,  2,  3,  4,  7,  8,  6,  22, 23, 9,  10, 11, 12, 13, 14,
      15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 5}},
}};

// Layout 8 on a device of generation 11 and above takes this order row instead.
constexpr int kLayoutWideClassC = 8;
constexpr int kOrderRowWideClassC = 11;
// On generation 11 and above, slots 22 and 23 of the other rows live at 30 and 31.
constexpr std::array<std::array<int, 2>, 2> kClassCSlotMoves = {{{22, 30}, {23, 31}}};
constexpr int32_t kClassCGeneration = 11;

constexpr std::array<const char*, 35> kModelNames = {
    "MX-01", "MX-02", "MX-03", "MX-04", "MX-05", "MX-06", "MX-07", "MX-08", "MX-09",
    "MX-10", "MX-11", "MX-12", "MX-10", "MX-10", "MX-13", "MX-14", "MX-15", "MX-16",
    "MX-17", "MX-18", "MX-18", "MX-19", "MX-19", "MX-20", "MX-20", "MX-21", "MX-21",
    "RF",    "MX-22", "MX-23", "MX-23", "MX-23", "MX-24", "MX-25", "MX-26"};
// Codes past the table show this entry.
constexpr int kFallbackNameEntry = 3;
// Code 15 on a 9-byte (generation 0) device is another model.
constexpr int kGen0RenamedCode = 15;
constexpr const char* kGen0RenamedName = "MX-27";

bool Matches(const DecisionRow& row, int32_t code, int32_t g) {
    const bool codeMatches =
        row.codes[0] == kAnyCode || code == row.codes[0] || code == row.codes[1];
    return codeMatches && Holds(row.condition, g);
}

}  // namespace

const std::array<int, kLayoutPositions>& LayoutOrderRow(int row) {
    return kOrderRows.at(row);
}

ModelLayout DecideModelLayout(const DeviceValues& device) {
    const int32_t code = device.ModelCode;
    const int32_t g = device.ProtocolGeneration;
    ModelLayout out;
    if (code == kKeyboardModelCode) {
        out.ButtonCount = 0;
        out.ButtonListCount = 0;
        out.KeyboardModeFlags = {true, true};
    } else {
        for (const DecisionRow& row : kDecisionRows) {
            if (!Matches(row, code, g)) continue;
            out.LayoutIndex = row.layout;
            out.ButtonCount = row.buttonCount;
            out.ButtonListCount = row.buttonListCount;
            out.SpecialButtonIndex = row.specialButton;
            out.GamepadVariantFlag = row.gamepad;
            break;
        }
    }

    const bool classC = g >= kClassCGeneration;
    const int orderRow =
        (out.LayoutIndex == kLayoutWideClassC && classC) ? kOrderRowWideClassC : out.LayoutIndex;
    out.ButtonOrder = kOrderRows[orderRow];
    if (orderRow != kOrderRowWideClassC && classC) {
        for (int& slot : out.ButtonOrder) {
            for (const auto& [from, to] : kClassCSlotMoves) {
                if (slot == from) {
                    slot = to;
                    break;
                }
            }
        }
    }
    out.IdentByte4 = device.IdentByte4;
    return out;
}

std::string GetModelName(const DeviceValues& device) {
    const int32_t code = device.ModelCode;
    if (code == kKeyboardModelCode) return device.ProductName;
    if (code == kGen0RenamedCode && device.ProtocolGeneration == 0) return kGen0RenamedName;
    if (code >= 0 && code < static_cast<int32_t>(kModelNames.size())) return kModelNames[code];
    return kModelNames[kFallbackNameEntry];
}

}  // namespace qvm
