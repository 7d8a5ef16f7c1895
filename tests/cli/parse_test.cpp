// The numbers and hex bytes users type.
#include "cli/parse.h"

#include <gtest/gtest.h>

namespace qvm::cli {
namespace {

TEST(ParseNumber, AcceptsDecimalAndHexWithinRange) {
    struct Case {
        std::string text;
        long long max;
        std::optional<long long> value;
    };
    const Case cases[] = {
        {"10", 10, 10},
        {"0x0a", 10, 10},
        {"11", 10, {}},
        {"-1", 10, {}},
        {"1 ", 10, {}},
        {"0x1g", 100, {}},
        {"99999999999999999999999", 0xFFFF, {}},
        {"0xffff", 0xFFFF, 0xFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ParseNumber(c.text, 0, c.max, "value");
        ASSERT_EQ(r.ok(), c.value.has_value()) << (r ? "" : r.message());
        if (c.value) {
            EXPECT_EQ(*r, *c.value);
        }
    }
}

// A refused number says what was wrong with it, so nobody guesses at a typo; the range
// is given in the base the number was written in.
TEST(ParseNumber, RefusalsSayWhy) {
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"-1", "slot -1 is negative: allowed 1..80"},
        {"0x51", "slot 0x51 is out of range: allowed 0x1..0x50"},
        {"99999999999999999999999", "slot 99999999999999999999999 is out of range: allowed 1..80"},
        {"--1", "invalid slot '--1': expected a number (decimal, or hexadecimal with 0x)"},
        {"1.5", "invalid slot '1.5': expected a number (decimal, or hexadecimal with 0x)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ParseNumber(c.text, 1, 80, "slot");
        ASSERT_FALSE(r);
        EXPECT_EQ(r.message(), c.message);
    }
}

TEST(ParseHexBytes, SeparatorsAndCase) {
    struct Case {
        std::string text;
        std::vector<uint8_t> bytes;  // empty: refused
    };
    const Case cases[] = {
        {"0a1B2c", {0x0A, 0x1B, 0x2C}},
        {"0a:1b:2c", {0x0A, 0x1B, 0x2C}},
        {"0x00ff", {0x00, 0xFF}},
        {"abc", {}},
        {"0a1", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ParseHexBytes(c.text);
        if (c.bytes.empty()) {
            EXPECT_FALSE(r.ok());
        } else {
            ASSERT_TRUE(r.ok()) << r.message();
            EXPECT_EQ(*r, c.bytes);
        }
    }
}

}  // namespace
}  // namespace qvm::cli
