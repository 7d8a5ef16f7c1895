// A test fixture with an X server of its own (Xvfb) and another client on it that makes
// input through XTest. A derived SetUp calls this one first and returns when it stopped
// (IsSkipped() or HasFatalFailure()).
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "support/x11_other_client.h"
#include "support/xvfb.h"

namespace qvm::test {

class XvfbWithOtherClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!XvfbInstalled()) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        ASSERT_FALSE(xvfb_.Name().empty()) << "Xvfb did not start";
        other_ = std::make_unique<X11OtherClient>(xvfb_.Name());
        ASSERT_TRUE(other_->Ok());
    }
    bool Stopped() const { return IsSkipped() || HasFatalFailure(); }

    Xvfb xvfb_;  // 640 x 480
    std::unique_ptr<X11OtherClient> other_;
};

}  // namespace qvm::test
