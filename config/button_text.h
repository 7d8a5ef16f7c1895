// The text a button is shown with wherever a person reads it (the main window's labels,
// qvmctl show): the function text, and for a button that runs a stored macro also the
// macro's name and slot, since the function text gives only the type name.
#pragma once

#include <string>

#include "config/config_image.h"

namespace qvm {

// "Macro(R) 'third' (macro slot 3)": slots are counted from 1 in texts; "Macro (damaged
// macro slot 2)" where the button would run the record of a damaged index entry. A macro
// button whose code address matches no stored macro keeps the bare function text.
std::string ShownButtonText(const ConfigImage& image, const ShownSlot& shown);

}  // namespace qvm
