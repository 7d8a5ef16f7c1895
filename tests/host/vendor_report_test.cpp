#include "host/vendor_report.h"

#include <gtest/gtest.h>

#include "host/host_status.h"
#include "host_rig.h"

namespace qvm {
namespace {

using test::Bytes;
using test::Pointer;
using test::ReportBytes;
using test::Sealed;

Bytes Flipped(Bytes r, std::size_t at) {
    r[at] ^= 0x40;
    return r;
}

Bytes Status(std::uint8_t stage, std::uint8_t profile, std::uint8_t mode, std::size_t n = 11) {
    return Sealed(ReportBytes({{0, 0x0B},
                               {1, 0x0C},
                               {2, stage},
                               {3, 0x20},
                               {4, 0x30},
                               {5, profile},
                               {6, mode},
                               {7, 0x34},
                               {8, 0x12}},
                              n));
}

StatusReport StatusOf(int stage, int profile, bool angle, bool scroll) {
    return {stage, 0x20, 0x30, profile, angle, scroll, 0x1234};
}

struct DecodeCase {
    const char* name;
    Bytes bytes;
    VendorReport expected;
};

TEST(VendorReportDecode, EveryKindAndEveryWayToBeDropped) {
    const Bytes window2 = Sealed(ReportBytes({{0, 0x0B}, {1, 0x0D}, {2, 2}}));
    Bytes wrongTrailer = Status(1, 1, 0);
    wrongTrailer[9] = 8;
    wrongTrailer[10] ^= 9 ^ 8;  // the XOR still holds
    const DecodeCase cases[] = {
        {"signed moves, left tilt", Pointer(true, -2, 300, -3), PointerReport{true, -2, 300, -3}},
        {"extremes", Pointer(false, -32768, 32767, 127), PointerReport{false, -32768, 32767, 127}},
        {"report id 1, contact bit only", ReportBytes({{0, 0x01}, {1, 0x0B}, {2, 0xFE}, {9, 0x80}}),
         PointerReport{false, 0, 0, -128}},
        {"pointer of another report id", ReportBytes({{0, 0x02}, {1, 0x0B}, {2, 1}}),
         IgnoredReport{}},
        {"pointer 10 bytes", ReportBytes({{0, 0x0B}, {1, 0x0B}, {2, 1}}, 10), IgnoredReport{}},
        {"status", Status(2, 3, 0x81), StatusOf(2, 3, true, true)},
        {"status 16 bytes", Status(1, 0, 0x01, 16), StatusOf(1, 0, true, false)},
        {"stage 5", Status(5, 0, 0), StatusOf(4, 0, false, false)},
        {"stage 7", Status(7, 0, 0), StatusOf(4, 0, false, false)},
        {"stage bits 3-7 ignored", Status(0xFA, 0, 0), StatusOf(2, 0, false, false)},
        {"status bad XOR", Flipped(Status(1, 1, 0), 5), IgnoredReport{}},
        {"status wrong trailer", wrongTrailer, IgnoredReport{}},
        {"status 10 bytes", Status(1, 1, 0, 10), IgnoredReport{}},
        {"restore", Sealed(ReportBytes({{1, 0x0D}, {2, 1}})),
         WindowCommandReport{WindowCommand::RestoreMainWindow}},
        {"minimise", window2, WindowCommandReport{WindowCommand::MinimiseActiveWindow}},
        {"minimise bad XOR", Flipped(window2, 3), IgnoredReport{}},
        {"window command 3", Sealed(ReportBytes({{1, 0x0D}, {2, 3}})), IgnoredReport{}},
        {"unknown kind", Sealed(ReportBytes({{1, 0x0E}, {2, 1}})), IgnoredReport{}},
        {"empty", Bytes{}, IgnoredReport{}},
        {"1000 bytes", Status(1, 1, 0, 1000), IgnoredReport{}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DecodeVendorReport(c.bytes), c.expected) << c.name;
    }
}

struct FlagCase {
    const char* name;
    bool osd;
    StatusReport report;  // after stage 1, profile 1, no angle snapping, value 0x1234
    std::uint32_t flags;
    StatusEffects effects;
};

TEST(HostStatus, ChangeFlagsFollowTheDisplaySetting) {
    constexpr int kOn = kDisplayCountdownTicks;
    StatusReport value = StatusOf(1, 1, false, false);
    value.value16 = 7;
    const FlagCase cases[] = {
        {"nothing new", true, StatusOf(1, 1, false, false), 0, {kOn}},
        {"stage", true, StatusOf(3, 1, false, false), 1, {kOn, true}},
        {"stage, osd off", false, StatusOf(3, 1, false, false), 0, {0, true}},
        {"profile", true, StatusOf(1, 2, false, false), 2, {kOn, false, false, 250}},
        {"profile, osd off", false, StatusOf(1, 2, false, false), 0, {0, false, false, 250}},
        {"profile byte 9 is window profile 1", true, StatusOf(1, 9, false, false), 2, {kOn}},
        {"scroll to change DPI, osd off", false, StatusOf(1, 1, false, true), 4, {}},
        {"angle snapping", true, StatusOf(1, 1, true, false), 8, {kOn, false, true}},
        {"angle snapping, osd off", false, StatusOf(1, 1, true, false), 0, {0, false, true}},
        {"value, osd off", false, value, 16, {}},
    };
    for (const auto& c : cases) {
        HostStatus status;
        status.SetConfigDelayMs(200);
        status.Apply(StatusOf(1, 1, false, false));
        status.ClearChangeFlags();
        status.SetDisplayEnabled(c.osd);
        EXPECT_EQ(status.Apply(c.report), c.effects) << c.name;
        EXPECT_EQ(status.Snapshot().changeFlags, c.flags) << c.name;
    }
}

TEST(HostStatus, ValuesAreKeptPerStageAndReloadWaitsAtLeast100Ms) {
    HostStatus status;
    status.SetWindowProfile(0);
    status.Apply({0, 4, 5, 0});
    status.Apply({3, 7, 9, 0});
    status.Apply({7, 11, 12, 0});  // built by hand past the decoder: kept as stage 4
    const HostStatusSnapshot s = status.Snapshot();
    EXPECT_EQ(s.xValues, (std::array<int, 5>{4, 0, 0, 7, 11}));
    EXPECT_EQ(s.yValues, (std::array<int, 5>{5, 0, 0, 9, 12}));
    EXPECT_EQ(s.stage, 4);
    for (auto [delay, wait] : {std::pair{0, 100}, {50, 100}, {51, 101}, {1000, 1050}}) {
        EXPECT_EQ(ProfileReloadDelayMs(delay), wait) << delay;
    }
}

}  // namespace
}  // namespace qvm
