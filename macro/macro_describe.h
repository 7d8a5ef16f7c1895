// Description texts of macro instructions: the one-line text the macro editor and the
// macro listings show for an instruction, built from the macro_str and macro_bt_str
// string tables with the instruction's operands filled in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "lang/ui_strings.h"

namespace qvm {

// Texts that no language file changes.
inline constexpr std::string_view kMacroStopText = "Stop";
inline constexpr std::string_view kMacroUnknownText = "Unknown";
inline constexpr std::string_view kMacroWaitTemplate = "%d ms";

// The description of the instruction at the start of `bytes` (missing operand bytes read
// as 0), with the process-wide string tables.
std::string DescribeMacroInstruction(std::span<const uint8_t> bytes);
std::string DescribeMacroInstructionWith(const UiStrings& ui, std::span<const uint8_t> bytes);

// Fills a printf-style template that may come from a language file, without printf:
// each conversion (%d, %s, %i, %u, %x, %c with any flags, width, precision or length
// modifier, or %N$... by position) takes the next argument's text as it stands; "%%"
// gives "%". A conversion without an argument and any other '%' stay as written, so a
// translated template can never read past the arguments it is given.
std::string FillTextTemplate(std::string_view templ, std::span<const std::string> args);

}  // namespace qvm
