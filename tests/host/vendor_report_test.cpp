#include "host/vendor_report.h"

#include <gtest/gtest.h>

#include "host/host_status.h"
#include "host_rig.h"

namespace qvm {
namespace {

using test::Bytes;
using test::Pointer;
using test::ReportBytes;

Bytes Status(int stage, int profile, int mode, std::size_t n = 11) {
    return ReportBytes({{1, 0x0C},
                        {2, stage},
                        {3, 0x20},
                        {4, 0x30},
                        {5, profile},
                        {6, mode},
                        {7, 0x34},
                        {8, 0x12}},
                       true, n);
}
Bytes Damaged(Bytes r, std::size_t at, int mask) {
    r[at] ^= mask;
    return r;
}
StatusReport StatusOf(int stage, int profile, bool angle = false, bool scroll = false) {
    return {stage, 0x20, 0x30, profile, angle, scroll, 0x1234};
}

TEST(VendorReportDecode, EveryKindAndEveryWayToBeDropped) {
    const Bytes minimise = ReportBytes({{1, 0x0D}, {2, 2}});
    const struct {
        const char* name;
        Bytes bytes;
        VendorReport expected;
    } cases[] = {
        {"signed moves, left tilt", Pointer(true, -2, 300, -3), PointerReport{true, -2, 300, -3}},
        {"extremes", Pointer(false, -32768, 32767, 127), PointerReport{false, -32768, 32767, 127}},
        {"id 1, contact bit only", ReportBytes({{0, 1}, {1, 0x0B}, {2, 0xFE}, {9, 0x80}}, false),
         PointerReport{false, 0, 0, -128}},
        {"pointer of id 2", ReportBytes({{0, 2}, {1, 0x0B}, {2, 1}}, false), IgnoredReport{}},
        {"pointer 10 bytes", ReportBytes({{0, 1}, {1, 0x0B}, {2, 1}}, false, 10), IgnoredReport{}},
        {"status", Status(2, 3, 0x81), StatusOf(2, 3, true, true)},
        {"status 16 bytes", Status(1, 0, 0x01, 16), StatusOf(1, 0, true)},
        {"stage 5", Status(5, 0, 0), StatusOf(4, 0)},
        {"stage 7", Status(7, 0, 0), StatusOf(4, 0)},
        {"stage bits 3-7 ignored", Status(0xFA, 0, 0), StatusOf(2, 0)},
        {"status bad XOR", Damaged(Status(1, 1, 0), 5, 0x40), IgnoredReport{}},
        {"trailer 8, XOR still 0", Damaged(Damaged(Status(1, 1, 0), 9, 1), 10, 1), IgnoredReport{}},
        {"status 10 bytes", Status(1, 1, 0, 10), IgnoredReport{}},
        {"status 1000 bytes", Status(1, 1, 0, 1000), IgnoredReport{}},
        {"restore", ReportBytes({{1, 0x0D}, {2, 1}}), WindowCommandReport{}},
        {"minimise", minimise, WindowCommandReport{WindowCommand::MinimiseActiveWindow}},
        {"minimise bad XOR", Damaged(minimise, 3, 0x40), IgnoredReport{}},
        {"window command 3", ReportBytes({{1, 0x0D}, {2, 3}}), IgnoredReport{}},
        {"unknown kind", ReportBytes({{1, 0x0E}, {2, 1}}), IgnoredReport{}},
        {"empty", Bytes{}, IgnoredReport{}},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeVendorReport(c.bytes), c.expected) << c.name;
}

TEST(HostStatus, ChangeFlagsFollowTheDisplaySetting) {
    constexpr int kOn = kDisplayCountdownTicks;
    StatusReport value = StatusOf(1, 1);
    value.value16 = 7;
    const struct {
        const char* name;
        bool osd;
        StatusReport report;  // after stage 1, profile 1, no angle snapping, value 0x1234
        std::uint32_t flags;
        StatusEffects effects;
    } cases[] = {
        {"nothing new", true, StatusOf(1, 1), 0, {kOn}},
        {"stage", true, StatusOf(3, 1), 1, {kOn, true}},
        {"stage, osd off", false, StatusOf(3, 1), 0, {0, true}},
        {"profile", true, StatusOf(1, 2), 2, {kOn, false, false, 250}},
        {"profile, osd off", false, StatusOf(1, 2), 0, {0, false, false, 250}},
        {"profile byte 9 is window profile 1", true, StatusOf(1, 9), 2, {kOn}},
        {"scroll to change DPI, osd off", false, StatusOf(1, 1, false, true), 4, {}},
        {"angle snapping", true, StatusOf(1, 1, true), 8, {kOn, false, true}},
        {"angle snapping, osd off", false, StatusOf(1, 1, true), 0, {0, false, true}},
        {"value, osd off", false, value, 16, {}},
    };
    for (const auto& c : cases) {
        HostStatus status;
        status.SetConfigDelayMs(200);
        status.Apply(StatusOf(1, 1));
        status.ClearChangeFlags();
        status.SetDisplayEnabled(c.osd);
        EXPECT_EQ(status.Apply(c.report), c.effects) << c.name;
        EXPECT_EQ(status.Snapshot().changeFlags, c.flags) << c.name;
    }
    EXPECT_EQ(ProfileReloadDelayMs(0), 100);
}

}  // namespace
}  // namespace qvm
