// Fuzz target for the device bridge's server side (what qvm-sim serves): the input is the
// request lines a host sends, answered from simulated devices. Whatever comes in, the
// server must keep to the protocol: every answer line is one the host can read.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/unique_fd.h"
#include "fuzz/bridge_fuzz_support.h"
#include "fuzz/fuzz_support.h"
#include "platform/bridge_protocol.h"
#include "sim/bridge_server.h"
#include "sim/sim_backend.h"

namespace {

using qvm::fuzz::Require;
namespace bridge = qvm::bridge;

// One answer line: `ok [HEX]`, `ok 1`, `err TEXT`, `none`, `end`, or a device line.
void RequireAnswerLine(std::string_view line) {
    Require(!line.empty() && line.find('\r') == std::string_view::npos);
    Require(line.size() <= qvm::kBridgeMaxLineLength);
    const std::string_view word = line.substr(0, line.find(' '));
    if (word == bridge::kErr) {
        Require(line.size() > word.size() + 1);
        return;
    }
    const auto fields = qvm::SplitBridgeFields(line);
    Require(fields.has_value());
    if (word == bridge::kOk) {
        Require(fields->size() <= 2);
        // `ok 1` answers hello; every other `ok` carries bytes.
        if (fields->size() == 2 && (*fields)[1] != std::to_string(qvm::kBridgeProtocolVersion))
            Require(qvm::DecodeBridgeHex((*fields)[1]).has_value());
    } else if (word == bridge::kDev || word == bridge::kAdd) {
        Require(qvm::ParseBridgeDevice(std::span(*fields).subspan(1)).ok());
    } else if (word == bridge::kRemove) {
        Require(fields->size() == 2 && qvm::IsValidBridgeId((*fields)[1]));
    } else {
        Require(fields->size() == 1 && (word == bridge::kNone || word == bridge::kEnd));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto backend = qvm::MakeSimBackend("", "");
    Require(backend.ok());
    const qvm::UniqueFd requests = qvm::fuzz::MemoryFile(std::span(data, size));
    const qvm::UniqueFd answers = qvm::fuzz::MemoryFile({});
    Require(qvm::ServeBridge(**backend, requests.get(), answers.get()).ok());

    const std::string text = qvm::fuzz::MemoryFileText(answers.get());
    Require(text.empty() || text.back() == '\n');
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        RequireAnswerLine(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
