// What a window says about an error: a sentence for its kind from the UI string tables,
// in the language in force, and beneath it the program's own detail, which names the
// paths, addresses and numbers (and is written in English).
#pragma once

#include <string>

#include "base/result.h"
#include "lang/ui_strings.h"

namespace qvm {

// The table text that opens a message about an error of this kind.
const std::string& ErrorKindText(const UiStrings& ui, ErrorKind kind);

// "<sentence for the kind>\n<detail>"; the sentence alone when the error has no detail.
std::string ErrorText(const UiStrings& ui, const Error& error);

}  // namespace qvm
