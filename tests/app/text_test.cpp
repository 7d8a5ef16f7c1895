#include "base/text.h"

#include <gtest/gtest.h>

namespace qvm {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct FieldCase {
    const char* label;
    std::string text;
    std::size_t fieldBytes;
    Bytes expected;
};

class Utf16FieldTest : public testing::TestWithParam<FieldCase> {};

TEST_P(Utf16FieldTest, CutsToWholeCharactersAndZeroFills) {
    const FieldCase& c = GetParam();
    EXPECT_EQ(EncodeUtf16LeField(c.text, c.fieldBytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf16FieldTest,
    testing::Values(FieldCase{"padded", "Ab", 6, {0x41, 0x00, 0x62, 0x00, 0x00, 0x00}},
                    FieldCase{"cut", "Abc", 4, {0x41, 0x00, 0x62, 0x00}},
                    FieldCase{"odd_field", "Ab", 5, {0x41, 0x00, 0x62, 0x00, 0x00}},
                    // The pair would be split by a 4-byte field: it is dropped whole.
                    FieldCase{"pair_not_split", "A\xF0\x9F\x98\x80", 4, {0x41, 0x00, 0x00, 0x00}},
                    FieldCase{"pair_fits", "\xF0\x9F\x98\x80", 4, {0x3D, 0xD8, 0x00, 0xDE}},
                    FieldCase{"overlong_replaced", "\xC0\xAF", 2, {0xFD, 0xFF}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace qvm
