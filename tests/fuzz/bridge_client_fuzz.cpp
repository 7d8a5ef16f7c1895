// Fuzz target for the device bridge's host side (the exec backend): the input is what a
// server answers, line after line, to a host that says hello, lists the devices, opens
// each and uses it, then asks for events. Whatever the server says, the host must not
// crash or read past an answer, and what it accepts must be inside the protocol's limits.
#include <fcntl.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "fuzz/bridge_fuzz_support.h"
#include "fuzz/fuzz_support.h"
#include "platform/bridge_backend.h"
#include "platform/bridge_protocol.h"
#include "support/fake_clock.h"

namespace {

using qvm::fuzz::Require;

void CheckInfo(const qvm::HidDeviceInfo& info) {
    Require(info.path.starts_with(qvm::kBridgePathPrefix));
    Require(qvm::BridgeIdFromPath(info.path).has_value());
    for (int length : {info.caps.featureLength, info.caps.inputLength, info.caps.outputLength})
        Require(length >= 0);
}

// Every operation a device offers, once, with buffers its capabilities call for.
void UseDevice(qvm::HidBackend& backend, const qvm::HidDeviceInfo& info) {
    auto handle = backend.Open(info.path);
    if (!handle) return;
    const auto bufferFor = [](int length) {
        return std::vector<uint8_t>(static_cast<std::size_t>(std::clamp(length, 1, 4096)), 0);
    };
    std::vector<uint8_t> feature = bufferFor(info.caps.featureLength);
    feature[0] = 7;
    (void)(*handle)->GetFeature(feature);
    (void)(*handle)->SetFeature(feature);
    std::vector<uint8_t> output = bufferFor(info.caps.outputLength);
    (void)(*handle)->Write(output);
    std::vector<uint8_t> input = bufferFor(info.caps.inputLength);
    const int got = (*handle)->Read(input, 0);
    Require(got <= static_cast<int>(input.size()));
    (void)(*handle)->IndexedString(1);
    (void)(*handle)->LastFailure();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The hello is given, so that the input is spent on what follows it.
    std::vector<uint8_t> answers = {'o', 'k', ' ', '1', '\n'};
    answers.insert(answers.end(), data, data + size);

    qvm::UniqueFd requests(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    Require(static_cast<bool>(requests));
    qvm::test::FakeClock clock;
    qvm::BridgeOptions options;
    options.answerTimeoutMs = 1000;
    options.exitWaitMs = 0;
    options.clock = &clock;
    auto backend =
        qvm::ConnectBridgeBackend(std::move(requests), qvm::fuzz::MemoryFile(answers), options);
    Require(backend.ok());

    for (int round = 0; round < 2; ++round) {
        const auto listed = (*backend)->Enumerate();
        if (listed) {
            for (const qvm::HidDeviceInfo& info : *listed) {
                CheckInfo(info);
                UseDevice(**backend, info);
            }
        }
        for (const qvm::HidEvent& event : (*backend)->TakeEvents()) CheckInfo(event.info);
    }
    return 0;
}
