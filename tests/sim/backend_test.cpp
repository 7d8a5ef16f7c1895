// The simulator behind the HID backend interface: enumeration, paths and handles. The
// identity strings are read by the host's probe tests, the vendor input reports by the
// concurrency test.
#include <gtest/gtest.h>

#include <algorithm>

#include "session/hid_factory.h"
#include "sim/sim_backend.h"
#include "sim_test_util.h"
#include "support/fake_clock.h"

namespace qvm::test {
namespace {

TEST(SimBackend, DefaultSetIsOneClassCMouse) {
    auto backend = SimBackend::Create("", "");
    ASSERT_TRUE(backend);
    ASSERT_EQ((*backend)->DeviceCount(), 1u);
    EXPECT_EQ((*backend)->Device(0).Config().generation, 12);
    auto viaFactory = MakeHidBackend("sim");
    ASSERT_TRUE(viaFactory) << viaFactory.message();
    EXPECT_EQ((*viaFactory)->Enumerate()->size(), 3u);
}

TEST(SimBackend, OpenRefusesUnknownPathsAndBadLists) {
    auto backend = SimBackend::Create("g12", "");
    ASSERT_TRUE(backend);
    auto handle = (*backend)->Open("sim#vid_0c45&pid_7030&mi_05#d0i5");
    ASSERT_FALSE(handle);
    EXPECT_NE(handle.message().find("no simulated device"), std::string::npos);
    auto bad = MakeHidBackend("sim:g12,q7");
    ASSERT_FALSE(bad);
    EXPECT_NE(bad.message().find("'q7'"), std::string::npos);
}

}  // namespace
}  // namespace qvm::test
