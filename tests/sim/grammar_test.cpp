// The simulated-device grammar: good items and what they configure, bad items and the
// words their error must contain.
#include <gtest/gtest.h>

#include "sim/sim_grammar.h"

namespace qvm {
namespace {

struct GoodCase {
    const char* item;
    bool (*check)(const SimDeviceConfig&);
};

const GoodCase kGood[] = {
    {"g0",
     [](const SimDeviceConfig& c) {
         return c.kind == SimKind::Mouse && c.generation == 0 && c.modelCode == 11 &&
                c.firmware == 0x20 && c.memorySize == 0x4000 && c.identByte1 == 0x0F &&
                c.identByte2 == 160 && c.identByte4 == 1 && c.productId == 0x7010 &&
                c.deviceClass == 4 && c.faults == SimFaults{};
     }},
    {"g5x",
     [](const SimDeviceConfig& c) {
         return c.generation == 5 && c.extendedLayout && c.modelCode == 21 &&
                c.memorySize == 0x8000 && c.productId == 0x7020;
     }},
    {"G12",
     [](const SimDeviceConfig& c) {
         return c.generation == 12 && !c.extendedLayout && c.modelCode == 25 &&
                c.identByte1 == 0x12 && c.memorySize == 0x10000 && c.productId == 0x7030;
     }},
    {"g12/model=33/fw=0x41/mem=8k/id1=3/id2=0xF0/id3=2/class=3/flags=0",
     [](const SimDeviceConfig& c) {
         return c.modelCode == 33 && c.firmware == 0x41 && c.memorySize == 0x2000 &&
                c.identByte1 == 3 && c.identByte2 == 0xF0 && c.identByte3 == 2 &&
                c.deviceClass == 3 && c.featureFlags == 0;
     }},
    {" g12 / busy=3 / corrupt ",
     [](const SimDeviceConfig& c) { return c.faults.busyPolls == 3 && c.faults.corrupt; }},
    {"g12/busy=forever/noreply/removeafter=20/cost=1",
     [](const SimDeviceConfig& c) {
         return c.faults.busyForever && c.faults.noReply && c.faults.removeAfter == 20 &&
                c.faults.costMs == 1;
     }},
    {"mx29/product=MX-30 Pro/fw=0xFFFFFFFF",
     [](const SimDeviceConfig& c) {
         return c.kind == SimKind::KeyboardMx29 && c.product == "MX-30 Pro" &&
                c.firmware == 0xFFFFFFFFu;
     }},
};

class GoodItems : public ::testing::TestWithParam<GoodCase> {};

TEST_P(GoodItems, Parse) {
    auto config = ParseSimDevice(GetParam().item);
    ASSERT_TRUE(config) << config.message();
    EXPECT_TRUE(GetParam().check(*config)) << GetParam().item;
}

INSTANTIATE_TEST_SUITE_P(Grammar, GoodItems, ::testing::ValuesIn(kGood));

struct BadCase {
    const char* list;
    std::vector<const char*> fragments;
};

const BadCase kBad[] = {
    {"g", {"'g'", "unknown device kind"}},
    {"g256", {"'g256'", "out of range"}},
    {"g11x", {"'g11x'", "generations 3 to 10"}},
    {"g12,,g0", {"empty item"}},
    {"g12/", {"'g12/'", "empty option"}},
    {"g12/speed=3", {"unknown option 'speed'"}},
    {"g12/model=256", {"model", "out of range", "256"}},
    {"mx28/fw=0x100000000", {"fw", "out of range"}},
    {"g12/mem=12k", {"mem must be 8k, 16k, 32k or 64k", "12k"}},
    {"g12/id4=1", {"id4", "generation 0 only"}},
    {"g12/pid=10000", {"pid", "out of range"}},
    {"g12/product=", {"product must have 1 to 63"}},
    {"g12/busy=100001", {"busy", "out of range"}},
    {"g12/removeafter=0", {"removeafter", "at least 1"}},
    {"g12/blank=1", {"'blank' takes no value"}},
    {"g12/fw=1/fw=2", {"'fw' is given twice"}},
    {"mx28/mem=8k", {"'mem' does not apply to keyboards"}},
    {"g0,g12/class=999", {"'g12/class=999'", "class", "out of range"}},
};

class BadItems : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadItems, AreRefusedWithAClearMessage) {
    auto devices = ParseSimDevices(GetParam().list);
    ASSERT_FALSE(devices) << GetParam().list;
    for (const char* fragment : GetParam().fragments) {
        EXPECT_NE(devices.message().find(fragment), std::string::npos)
            << "'" << devices.message() << "' lacks '" << fragment << "'";
    }
}

INSTANTIATE_TEST_SUITE_P(Grammar, BadItems, ::testing::ValuesIn(kBad));

TEST(DeviceList, KeepsItsOrderAndDefaultsWhenEmpty) {
    auto devices = ParseSimDevices("mx29,g0,g7x");
    ASSERT_TRUE(devices) << devices.message();
    ASSERT_EQ(devices->size(), 3u);
    EXPECT_EQ((*devices)[0].KindName(), "mx29");
    EXPECT_EQ((*devices)[1].KindName(), "g0");
    EXPECT_EQ((*devices)[2].KindName(), "g7x");
    auto defaults = ParseSimDevices("  ");
    ASSERT_TRUE(defaults);
    ASSERT_EQ(defaults->size(), 1u);
    EXPECT_EQ((*defaults)[0].KindName(), "g12");
}

}  // namespace
}  // namespace qvm
