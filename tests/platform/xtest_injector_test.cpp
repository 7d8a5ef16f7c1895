// The XTest injector against an X server of the test's own (Xvfb): the pointer ends where
// the moves take it, as another client sees it, and a horizontal scroll reaches the window
// under the pointer as one press and release of wheel button 6 or 7 per step.
#ifdef QVM_HAVE_LINUX_HID
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/linux/xtest_injector.h"
#include "support/x11_other_client.h"
#include "support/xvfb_fixture.h"

namespace qvm {
namespace {

class XTestInjectorTest : public test::XvfbWithOtherClientTest {
  protected:
    void SetUp() override {
        XvfbWithOtherClientTest::SetUp();
        if (Stopped()) return;
        auto opened = XTestInjector::Open(xvfb_.Name());
        ASSERT_TRUE(opened.ok()) << opened.message();
        injector_ = std::move(*opened);
    }
    void PointerAt(int x, int y) {
        other_->MoveTo(x, y);
        other_->Sync();
    }

    std::unique_ptr<XTestInjector> injector_;
};

// Moves are relative to wherever the pointer is; the server keeps it on the screen.
TEST_F(XTestInjectorTest, MovesArePointerMotionRelativeToWhereItIs) {
    struct Case {
        std::pair<int, int> from;
        std::vector<std::pair<int, int>> moves;
        std::pair<int, int> to;
    };
    const Case cases[] = {
        {{100, 100}, {{15, -7}, {-30, 20}, {0, 0}}, {85, 113}},
        {{300, 200}, {{-1000, 0}}, {0, 200}},
        {{300, 200}, {{1000, 1000}}, {639, 479}},
    };
    for (const Case& c : cases) {
        PointerAt(c.from.first, c.from.second);
        for (const auto& [dx, dy] : c.moves) ASSERT_TRUE(injector_->MovePointer(dx, dy).ok());
        EXPECT_EQ(other_->PointerPosition(), c.to) << c.from.first << "," << c.from.second;
        auto read = injector_->PointerPosition();
        ASSERT_TRUE(read.ok()) << read.message();
        EXPECT_EQ(*read, (InjectPoint{c.to.first, c.to.second}));
    }
}

TEST_F(XTestInjectorTest, ScrollPressesAndReleasesWheelButtonsInTheWindowUnderThePointer) {
    struct Case {
        int detents;
        std::vector<int> buttons;  // +pressed, -released
    };
    const Case cases[] = {
        {-3, {6, -6, 6, -6, 6, -6}},
        {2, {7, -7, 7, -7}},
        {0, {}},
    };
    PointerAt(50, 50);  // over the other client's window
    (void)other_->Buttons();
    for (const Case& c : cases) {
        ASSERT_TRUE(injector_->ScrollHorizontal(c.detents).ok()) << c.detents;
        EXPECT_EQ(other_->Buttons(), c.buttons) << c.detents;
    }
}

}  // namespace
}  // namespace qvm
#endif  // QVM_HAVE_LINUX_HID
