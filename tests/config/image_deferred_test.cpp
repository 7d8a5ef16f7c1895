// Deferred writes: slider changes coalesce and reach the device only when due.
#include <gtest/gtest.h>

#include "image_rig.h"

namespace qvm {
namespace {

using std::chrono::milliseconds;

struct DeferredRig : test::ImageRig {
    DeferredRig() : test::ImageRig("g5") { Load(); }
    DeferredWrites& Deferred() { return model->Deferred(); }
    void Advance(int ms) { clock.SleepMs(ms); }
};

TEST(ImageDeferred, DpiChangesCoalesceUntilQuietFor200ms) {
    DeferredRig rig;
    const auto start = rig.clock.Now();
    ASSERT_TRUE(rig.Deferred().ChangeDpiStage(2, 20, 20).ok());
    rig.Advance(150);
    ASSERT_TRUE(rig.Deferred().ChangeDpiStage(2, 30, 31).ok());
    ASSERT_TRUE(rig.Deferred().ChangeDpiStage(3, 40, 40).ok());
    EXPECT_EQ(rig.Deferred().NextDue(), start + milliseconds(350));
    // The model shows the new values at once; the device still holds the old ones.
    EXPECT_EQ(rig.Image()->dpiStages[2], (DpiStage{30, 31}));

    rig.Advance(100);
    ASSERT_TRUE(rig.Deferred().Flush().ok());
    EXPECT_EQ(rig.Peek(0x07, 4), (std::vector<uint8_t>{64, 64, 144, 144}));

    rig.Advance(100);
    ASSERT_TRUE(rig.Deferred().Flush().ok());
    EXPECT_EQ(rig.Peek(0x07, 4), (std::vector<uint8_t>{30, 31, 40, 40}));
    EXPECT_FALSE(rig.Deferred().Pending());
}

TEST(ImageDeferred, RateAndSnappingWaitASecondEach) {
    DeferredRig rig;
    rig.Poke(0x0E, {0x10});
    ASSERT_TRUE(rig.Deferred().ChangeReportRate(7).ok());
    rig.Advance(400);
    ASSERT_TRUE(rig.Deferred().ChangeAngleSnapping(true).ok());
    rig.Advance(700);  // the rate is due, snapping is not
    ASSERT_TRUE(rig.Deferred().Flush().ok());
    EXPECT_EQ(rig.Peek(0x0E, 1)[0], 0x70);
    EXPECT_TRUE(rig.Deferred().Pending());
    rig.Advance(400);
    ASSERT_TRUE(rig.Deferred().Flush().ok());
    EXPECT_EQ(rig.Peek(0x0E, 1)[0], 0x71);
    EXPECT_FALSE(rig.Deferred().NextDue().has_value());
}

// A change out of range never becomes pending; a cancel drops everything pending.
TEST(ImageDeferred, BadChangesAndCancelLeaveNothingPending) {
    DeferredRig rig;
    EXPECT_FALSE(rig.Deferred().ChangeDpiStage(1, 0, 5).ok());
    EXPECT_FALSE(rig.Deferred().ChangeDpiStage(1, 5, 161).ok());
    EXPECT_FALSE(rig.Deferred().ChangeReportRate(-1).ok());
    EXPECT_FALSE(rig.Deferred().Pending());
    ASSERT_TRUE(rig.Deferred().ChangeDpiStage(0, 99, 99).ok());
    ASSERT_TRUE(rig.Deferred().ChangeReportRate(5).ok());
    rig.Deferred().Cancel();
    ASSERT_TRUE(rig.Deferred().Flush(DeferredWrites::Scope::Everything).ok());
    EXPECT_EQ(rig.Peek(0x03, 2), (std::vector<uint8_t>{16, 16}));
}

TEST(ImageDeferred, FailedWriteStaysPending) {
    DeferredRig rig;
    ASSERT_TRUE(rig.Deferred().ChangeReportRate(2).ok());
    rig.Device().Detach();
    EXPECT_FALSE(rig.Deferred().Flush(DeferredWrites::Scope::Everything).ok());
    EXPECT_TRUE(rig.Deferred().Pending());
    rig.Device().Attach();
    // A device that left is written to again once its return was identified.
    rig.transport->Forget(rig.path);
    ASSERT_TRUE(rig.Deferred().Flush(DeferredWrites::Scope::Everything).ok());
    EXPECT_EQ(rig.Peek(0x0E, 1)[0], 0x20);
}

}  // namespace
}  // namespace qvm
