// Texts from devices and files in qvmctl's JSON output.
#include "cli/json.h"

#include <gtest/gtest.h>

namespace qvm::cli {
namespace {

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
