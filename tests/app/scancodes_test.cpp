#include "lang/scancodes.h"

#include <gtest/gtest.h>

namespace qvm {
namespace {

struct ScanRow {
    int usage;
    int scanCode;
};

class ScanCodeTest : public testing::TestWithParam<ScanRow> {};

TEST_P(ScanCodeTest, BothDirections) {
    EXPECT_EQ(UsageToScanCode(GetParam().usage), GetParam().scanCode);
    EXPECT_EQ(ScanCodeToUsage(GetParam().scanCode), GetParam().usage);
}

INSTANTIATE_TEST_SUITE_P(Table, ScanCodeTest,
                         testing::Values(ScanRow{4, 30},        // A
                                         ScanRow{40, 28},       // Enter
                                         ScanRow{58, 0x3B},     // F1
                                         ScanRow{67, 0x44},     // F10
                                         ScanRow{68, 0x57},     // F11
                                         ScanRow{70, 57399},    // Print Screen 0xE037
                                         ScanRow{72, 69},       // Pause
                                         ScanRow{83, 57413},    // Num Lock 0xE045
                                         ScanRow{84, 0xE035},   // keypad /
                                         ScanRow{88, 57372},    // keypad Enter 0xE01C
                                         ScanRow{101, 0xE05D},  // Application
                                         ScanRow{224, 29},      // left Ctrl
                                         ScanRow{227, 57435},   // left GUI 0xE05B
                                         ScanRow{228, 0xE01D},  // right Ctrl
                                         ScanRow{231, 57436}    // right GUI 0xE05C
                                         ));

struct LookupCase {
    int scanCode;
    int usage;
};

class ScanCodeLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(ScanCodeLookupTest, LowestUsageOrZero) {
    EXPECT_EQ(ScanCodeToUsage(GetParam().scanCode), GetParam().usage);
}

INSTANTIATE_TEST_SUITE_P(Table, ScanCodeLookupTest,
                         testing::Values(LookupCase{0x2B, 0x31},  // shared with 0x32: lowest
                                         LookupCase{0xFF, 0},     // usage 255 is not stored
                                         LookupCase{0x1C, 0x28},  // not keypad Enter
                                         LookupCase{0xE01C, 0x58}, LookupCase{0x7F, 0},
                                         LookupCase{-1, 0}, LookupCase{0xE0FF, 0}));

TEST(ScanCodeLookupTest, UsagesWithoutCodes) {
    EXPECT_EQ(UsageToScanCode(0x32), 0x2B);
    EXPECT_EQ(UsageToScanCode(0x66), 0);
    EXPECT_EQ(UsageToScanCode(255), 0);
    EXPECT_EQ(UsageToScanCode(-3), 0);
    EXPECT_EQ(UsageToScanCode(1000), 0);
}

}  // namespace
}  // namespace qvm
