// The simulated-device grammar: bad items and the words their error must contain. Every
// other test of the simulator configures its devices through good items.
#include <gtest/gtest.h>

#include "sim/sim_grammar.h"

namespace qvm {
namespace {

struct BadCase {
    const char* list;
    std::vector<const char*> fragments;
};

const BadCase kBad[] = {
    {"g256", {"'g256'", "out of range"}},
    {"g11x", {"'g11x'", "generations 3 to 10"}},
    {"g12/mem=12k", {"mem must be 8k, 16k, 32k or 64k", "12k"}},
    {"g12/id4=1", {"id4", "generation 0 only"}},
    {"g12/removeafter=0", {"removeafter", "at least 1"}},
    {"mx28/mem=8k", {"'mem' does not apply to keyboards"}},
    {"g0,g12/class=999", {"'g12/class=999'", "class", "out of range"}},
    {"g12/report=0b0g", {"report needs 1 to 16 bytes in hexadecimal", "'0b0g'"}},
    {"g12/report=0b0", {"report needs", "'0b0'"}},
    {"g12/report=0b+xms+0b", {"report wait needs a number", "'x'"}},
    {"g12/report=0b+3600001ms", {"report wait"}},
    {"g12/report=0b+", {"report needs", "''"}},
    {"g12/report=000102030405060708090a0b0c0d0e0f10", {"report needs 1 to 16 bytes"}},
    {"mx28/report=0b", {"'report' does not apply to keyboards"}},
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

}  // namespace
}  // namespace qvm
