#include "cli/json.h"

#include <gtest/gtest.h>

#include <sstream>

namespace qvm::cli {
namespace {

TEST(JsonWriter, NestedContainersAndEscapes) {
    std::ostringstream out;
    {
        JsonWriter j(out);
        j.BeginObject();
        j.Key("name").String("Pro\"file\\1\n\x01");
        j.Key("colour").BeginArray().Int(255).Int(-1).EndArray();
        j.Key("empty").BeginArray().EndArray();
        j.Key("off").Bool(false);
        j.Key("none").Null();
        j.Key("list").BeginArray().BeginObject().Key("x").Int(16).EndObject().EndArray();
        j.EndObject();
    }
    EXPECT_EQ(out.str(),
              "{\n"
              "  \"name\": \"Pro\\\"file\\\\1\\n\\u0001\",\n"
              "  \"colour\": [\n    255,\n    -1\n  ],\n"
              "  \"empty\": [],\n"
              "  \"off\": false,\n"
              "  \"none\": null,\n"
              "  \"list\": [\n    {\n      \"x\": 16\n    }\n  ]\n"
              "}\n");
}

TEST(JsonQuote, Utf8PassesThrough) {
    EXPECT_EQ(JsonQuote("Profil ü → 한"), "\"Profil ü → 한\"");
}

// JSON is printed on terminals too: what a terminal acts on is escaped as JSON allows,
// and bytes that are not UTF-8 (file names may hold any) cannot make the JSON invalid.
TEST(JsonQuote, ControlsAreEscapedAndOutputStaysUtf8) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
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
