// The names qvmctl takes for a button function: every text the windows show for one
// (the function text of a label, the names of the function library such as "Copy"),
// in any case and with or without blanks ("Ctrl+C", "Fire button (50 ms)").
#pragma once

#include <string>
#include <vector>

#include "config/button_slot.h"
#include "macro/function_library.h"

namespace qvm::cli {

// The functions `text` names, best first: a function text as written, else the
// function library's entries of that name, else function texts that differ from it
// only in blanks. Empty when nothing has that name.
std::vector<ButtonSlot> FunctionsNamed(const std::string& text, int dpiStep,
                                       const FunctionLibrary& library);

// The function library of the program folder, for FunctionsNamed.
FunctionLibrary ProgramFunctionLibrary(int dpiStep);

}  // namespace qvm::cli
