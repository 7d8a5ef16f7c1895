// Fuzz target for backup files (.bf): any bytes must be judged without reading past
// them; a backup that reads gives exactly the memory bytes the file holds, and written
// back as the program writes backups it reads the same, byte for byte when the file was
// one the program wrote.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "config/backup.h"
#include "fuzz/fuzz_support.h"

using qvm::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const auto contents = qvm::DecodeBackupFile(bytes);
    if (!contents) return 0;
    Require(contents->memory.size() + contents->missingBytes == contents->declaredBytes);
    Require(contents->memory.size() <= size);

    std::vector<uint8_t> written = qvm::EncodeBackupHeader(contents->declaredBytes);
    Require(written.size() == qvm::kBackupHeaderSize);
    written.insert(written.end(), contents->memory.begin(), contents->memory.end());
    const auto reread = qvm::DecodeBackupFile(written);
    Require(reread.ok());
    Require(reread->declaredBytes == contents->declaredBytes);
    Require(reread->memory == contents->memory);
    Require(reread->missingBytes == contents->missingBytes);
    // Nothing of the file goes unaccounted: a file of the program's own header is that
    // header, the memory bytes and the bytes after them (which a restore is warned of).
    Require(contents->missingBytes == 0 || contents->extraBytes == 0);
    if (size >= qvm::kBackupHeaderSize &&
        std::equal(written.begin(), written.begin() + qvm::kBackupHeaderSize, bytes.begin())) {
        Require(size == written.size() + contents->extraBytes);
        Require(std::equal(written.begin(), written.end(), bytes.begin()));
    }

    for (const std::optional<uint32_t> top :
         {std::optional<uint32_t>{}, std::optional<uint32_t>{0x1FFF},
          std::optional<uint32_t>{contents->declaredBytes - 1}}) {
        const auto findings = qvm::JudgeRestore(*contents, top);
        Require(findings.size() <= 5);
        Require(qvm::CheckRestore(*contents, top, false).ok() == findings.empty());
        Require(qvm::CheckRestore(*contents, top, true).ok());
    }
    return 0;
}
