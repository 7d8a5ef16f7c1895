// Fuzz target for the decoders of what companions send: requests, datagrams, and the
// packets the companion tool reads. Any input must decode without reading out of bounds
// and give values inside their ranges; a value outside traps.
//
// Built with clang's -fsanitize=fuzzer as remote_decode_fuzz when QVM_BUILD_FUZZ is on;
// net_tests also runs it over a fixed corpus and pseudo-random inputs on every test run.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "net/remote_lists.h"
#include "net/remote_packets.h"

namespace {

void Require(bool condition) {
    if (!condition) __builtin_trap();
}

void CheckRequest(const qvm::remote::RemoteRequest& request, int buttonCount) {
    using namespace qvm::remote;
    if (const auto* r = std::get_if<SelectStage>(&request)) Require(r->stage >= 0 && r->stage <= 3);
    if (const auto* r = std::get_if<SelectProfile>(&request)) {
        Require(r->profile >= 0 && r->profile < 5);
    }
    if (const auto* r = std::get_if<SetStageValues>(&request))
        Require(r->stage >= 0 && r->stage < 5);
    if (const auto* r = std::get_if<Assign>(&request)) {
        Require(r->profile >= 0 && r->profile < 5);
        Require(r->button >= 0 && r->button < buttonCount);
    }
    if (const auto* r = std::get_if<LiveBytes>(&request)) Require(r->value < (1u << 24));
    if (const auto* r = std::get_if<PointerMove>(&request)) Require(r->dx != 0 || r->dy != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qvm::remote;
    const std::span<const uint8_t> bytes(data, size);
    for (int buttons : {kStandardButtonCount, kExtendedButtonCount}) {
        CheckRequest(DecodeRequest(bytes, buttons), buttons);
    }
    const RemoteDatagram datagram = DecodeDatagram(bytes);
    if (const auto* m = std::get_if<PointerMove>(&datagram)) Require(m->dx != 0 || m->dy != 0);
    (void)DecodeAnnouncement(bytes);
    (void)DecodeNameReply(bytes);
    const DecodedStreamPacket packet = DecodeStreamPacket(bytes);
    Require(packet.status.buttons.size() <= status::kMaxButtons);
    for (const ListEntryLayout& layout : {lists::kKeyName, lists::kConsumerKey, lists::kIndexedName,
                                          lists::kClassName, lists::kWord}) {
        Require(DecodeNamedCodeList(bytes, layout).size() <= layout.perPacket);
    }
    return 0;
}
