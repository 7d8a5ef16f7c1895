// The numbers users type, and texts from outside in the JSON output.
#include <gtest/gtest.h>

#include "cli/json.h"
#include "cli/parse.h"

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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        auto r = ParseNumber(c.text, 1, 80, "slot");
        ASSERT_EQ(r.ok(), c.value.has_value()) << (r ? "" : r.message());
        EXPECT_EQ(r ? *r : 0, c.value.value_or(0));
        EXPECT_EQ(r ? "" : r.message(), c.message);
    }
}

// JSON is printed on terminals too: what a terminal acts on is escaped as JSON allows,
// and bytes that are not UTF-8 (file names may hold any) cannot make the JSON invalid.
TEST(JsonQuote, ControlsAreEscapedAndOutputStaysUtf8) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"Profil \xC3\xBC \xE2\x86\x92", "\"Profil \xC3\xBC \xE2\x86\x92\""},
        {"\x1b[2J", "\"\\u001b[2J\""},
        {"del\x7f", "\"del\\u007f\""},
        {"csi\xC2\x9B"
         "1m",
         "\"csi\\u009b1m\""},
        {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
        {"sep\xE2\x80\xA8", "\"sep\\u2028\""},
    };
    for (const auto& c : cases) EXPECT_EQ(JsonQuote(c.in), c.out);
}

}  // namespace
}  // namespace qvm::cli
