// Fuzz target for the text form of macros. A text that parses must format and parse
// again to the same instruction bytes; and the bytes themselves, taken as a macro code
// or as items of stray bytes, must format to a text that parses back to those bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "macro/macro_item.h"
#include "macro/macro_text.h"

namespace {

using qvm::MacroItem;
using qvm::fuzz::Require;

// FormatMacroText, then ParseMacroText: the same bytes, and the same text once more.
void RequireTextRoundTrip(const std::vector<MacroItem>& items) {
    const std::string text = qvm::FormatMacroText(items);
    const auto parsed = qvm::ParseMacroText(text);
    Require(parsed.ok());
    Require(qvm::EncodeMacroCode(*parsed) == qvm::EncodeMacroCode(items));
    Require(qvm::FormatMacroText(*parsed) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    if (const auto items = qvm::ParseMacroTextFile(bytes)) RequireTextRoundTrip(*items);

    RequireTextRoundTrip(qvm::DecodeMacroCode(bytes));

    // Items as the editor and recorder make them from any bytes: 1 to 5 at a time.
    std::vector<MacroItem> made;
    for (std::size_t at = 0; at < size;) {
        const std::size_t take = std::min<std::size_t>(size - at, 1 + bytes[at] % 5);
        made.push_back(qvm::MakeMacroItem(bytes.subspan(at, take)));
        Require(made.back().length >= 1 && made.back().length <= qvm::kMacroItemMaxBytes);
        at += take;
    }
    RequireTextRoundTrip(made);
    return 0;
}
