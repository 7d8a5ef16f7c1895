// What the probe stores per device: where records and pages land, then the whole probe
// of each generation class and a keyboard checked against literal expected values.
#include <gtest/gtest.h>

#include "device/probe_values.h"
#include "discovery_rig.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

// ---- Whole probes against the simulator ----

struct ProbeCase {
    std::string devices;
    int32_t generation, model;
    uint32_t firmware;
    int32_t deviceClass, flags, ident1, ident2, ident3, ident4, extended;
    std::vector<std::pair<std::size_t, Bytes>> info;  // expected InfoPages bytes; empty: none
    std::string product;                              // keyboards only
};

void PrintTo(const ProbeCase& c, std::ostream* os) {
    *os << '"' << c.devices << '"';
}

class DiscoveryProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(DiscoveryProbe, StoresTheDevicesValues) {
    const ProbeCase& c = GetParam();
    test::LinkRig rig(c.devices);
    const std::string path = rig.ConfigPath(0);
    ASSERT_EQ(rig.link.ProbeDevice(path).outcome, ProbeOutcome::Listed);
    EXPECT_EQ(rig.link.DeviceList(), std::vector<std::string>{path});

    const DeviceValues v = rig.values.Get(path);
    EXPECT_EQ(v.ProtocolGeneration, c.generation);
    EXPECT_EQ(v.ModelCode, c.model);
    EXPECT_EQ(v.FirmwareVersion, c.firmware);
    EXPECT_EQ(v.DeviceClass, c.deviceClass);
    EXPECT_EQ(v.FeatureFlags, c.flags);
    EXPECT_EQ(v.IdentByte1, c.ident1);
    EXPECT_EQ(v.IdentByte2, c.ident2);
    EXPECT_EQ(v.IdentByte3, c.ident3);
    EXPECT_EQ(v.IdentByte4, c.ident4);
    EXPECT_EQ(v.ExtendedLayoutFlag, c.extended);
    EXPECT_EQ(v.ProductName, c.product);
    EXPECT_EQ(v.InfoPages.has_value(), !c.info.empty());
    for (const auto& [at, bytes] : c.info) {
        ASSERT_TRUE(v.InfoPages);
        EXPECT_EQ(Bytes(v.InfoPages->begin() + at, v.InfoPages->begin() + at + bytes.size()), bytes)
            << "InfoPages at 0x" << std::hex << at;
    }
    EXPECT_EQ(rig.sim->TotalStats().refusedCommands, 0u);
    EXPECT_EQ(rig.sim->TotalStats().unknownCommands, 0u);
}

// Simulator defaults: g0 model 11 fw 0x20 id1 0x0F id2 160 id4 1; g1..g10 model 21 fw 0x21
// id1 0x0F id2 160; g11+ model 25 fw 0x30 id1 0x12 id2 160; mice class 4, flags 1.
// Columns: devices; generation, model, firmware; class, flags, ident bytes 1 to 4, extended;
// expected InfoPages bytes; product.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Generations, DiscoveryProbe,
    ::testing::Values(
        // 9-byte: 16 records from 0x48 (the last is scroll down), nothing below.
        ProbeCase{"g0", 0, 11, 0x20, 4, 1, 0x0F, 160, 0, 1, 0,
                  {{0x00, {0, 0, 0, 0}}, {0x10, {0}}, {0x48, {4, 1, 0, 0}},
                   {0x84, {4, 0, 0xFF, 0}}, {0x88, {0, 0, 0, 0}}}},
        // 64-byte, generation 2: five pages from offset 0; 24 buttons.
        ProbeCase{"g2", 2, 21, 0x21, 4, 1, 0x0F, 160, 0, 0, 0,
                  {{0x00, {'Q', 'Z', 2, 0x31, 0x02, 0x05, 0, 24, 5, 5, 4, 0, 5, 4, 4}},
                   {0x10, {1}}, {0x48, {4, 1, 0, 0}}, {0xA4, {4, 0, 0xFF, 0}}}},
        ProbeCase{"g5x/model=14/id3=2/id1=3/id2=80/fw=40", 5, 9, 40, 4, 1, 3, 80, 2, 0, 1,
                  {{0x06, {16, 24}}, {0x0B, {2}}}},
        // Generation 12: 32 records, bytes 12/13 set to 5/4, no pages.
        ProbeCase{"g12", 12, 25, 0x30, 4, 1, 0x12, 160, 0, 0, 1,
                  {{0x00, {0, 0, 0, 0}}, {0x0C, {5, 4}}, {0x10, {0}}, {0x48, {4, 1, 0, 0}},
                   {0xC4, {4, 0, 0xFF, 0}}}},
        // Keyboards: firmware from reply bytes 20..23, "MX-30" in the product.
        ProbeCase{"mx29/product=MX-30 Pro/fw=0x0A0B0C0D", 0, 10000, 0x0A0B0C0D, 0, 0, 0, 0, 1, 0,
                  0, {}, "MX-30 Pro"}));
// clang-format on

}  // namespace
}  // namespace qvm
