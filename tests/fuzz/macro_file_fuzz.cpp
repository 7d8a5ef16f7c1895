// Fuzz target for macro files (.mf): any bytes must be judged without reading past them,
// and a file that reads must write back (as the program writes files) to a file that reads
// as the same macro: name, mode, time stamp and code bytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "macro/macro_file.h"
#include "macro/macro_item.h"

using qvm::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const auto header = qvm::DecodeMacroFileHeader(bytes);
    if (header) Require(header->codeOffset + header->codeLength <= size);
    const auto file = qvm::DecodeMacroFile(bytes);
    Require(file.ok() == header.ok());
    if (!file) return 0;

    const std::vector<uint8_t> code = qvm::EncodeMacroCode(file->items);
    Require(code.size() <= header->codeLength);
    const auto written = qvm::EncodeMacroFile(file->name, file->mode, file->items, file->time);
    Require(written.ok());
    const auto reread = qvm::DecodeMacroFile(*written);
    Require(reread.ok());
    Require(reread->name == file->name);
    Require(reread->mode == file->mode);
    Require(reread->time == file->time);
    Require(qvm::EncodeMacroCode(reread->items) == code);
    // The program's own file is read back byte for byte the same when written again.
    const auto rewritten =
        qvm::EncodeMacroFile(reread->name, reread->mode, reread->items, reread->time);
    Require(rewritten.ok() && *rewritten == *written);
    return 0;
}
