// The numbers and hex bytes users type.
#include "cli/parse.h"

#include <gtest/gtest.h>

namespace qvm::cli {
namespace {

// A number within 1..80, or a refusal that says what was wrong with it, so nobody guesses
// at a typo; the range is given in the base the number was written in.
TEST(ParseNumber, DecimalAndHexWithinRangeOrWhyNot) {
    const struct {
        std::string text;
        std::optional<long long> value;
        std::string message;
    } cases[] = {
        {"80", 80, ""},
        {"0x0a", 10, ""},
        {"-1", {}, "slot -1 is negative: allowed 1..80"},
        {"0x51", {}, "slot 0x51 is out of range: allowed 0x1..0x50"},
        {"99999999999999999999999",
         {},
         "slot 99999999999999999999999 is out of range: allowed 1..80"},
        {"1 ", {}, "invalid slot '1 ': expected a number (decimal, or hexadecimal with 0x)"},
        {"0x1g", {}, "invalid slot '0x1g': expected a number (decimal, or hexadecimal with 0x)"},
        {"--1", {}, "invalid slot '--1': expected a number (decimal, or hexadecimal with 0x)"},
        {"1.5", {}, "invalid slot '1.5': expected a number (decimal, or hexadecimal with 0x)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ParseNumber(c.text, 1, 80, "slot");
        ASSERT_EQ(r.ok(), c.value.has_value()) << (r ? "" : r.message());
        EXPECT_EQ(r ? *r : 0, c.value.value_or(0));
        EXPECT_EQ(r ? "" : r.message(), c.message);
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
