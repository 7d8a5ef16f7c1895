#include "config/button_text.h"

#include "config/catalogue.h"

namespace qvm {

std::string ShownButtonText(const ConfigImage& image, const ShownSlot& shown) {
    const ButtonSlot& b = shown.slot;
    if (b.type < kTypeMacro || b.type > kTypeMacroHold || b.op3 == kBuiltinMacroMarker) {
        return shown.text;
    }
    const int codeAddress = b.op1 | b.op2 << 8;
    for (std::size_t i = 0; i < image.macros.size(); ++i) {
        const MacroSlot& m = image.macros[i];
        if (!m.Empty() && m.codeAddress == codeAddress) {
            return shown.text + "'" + m.name + "' (macro slot " + std::to_string(i + 1) + ")";
        }
        if (DamagedCodeAddress(image.macros, static_cast<int>(i)) == codeAddress) {
            return shown.text + "(damaged macro slot " + std::to_string(i + 1) + ")";
        }
    }
    return shown.text;
}

}  // namespace qvm
