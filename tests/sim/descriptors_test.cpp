// The report descriptors the simulated interfaces show a kernel declare exactly the
// capabilities the simulator reports for them.
#include "gtest/gtest.h"
#include "platform/linux/report_descriptor.h"
#include "sim/sim_backend.h"
#include "sim/sim_descriptors.h"

namespace qvm {
namespace {

class SimDescriptors : public testing::TestWithParam<const char*> {};

TEST_P(SimDescriptors, DeclareTheSimulatedCapabilities) {
    auto sim = SimBackend::Create(GetParam(), "");
    ASSERT_TRUE(sim) << sim.message();
    for (const HidDeviceInfo& info : (*sim)->Device(0).Interfaces()) {
        SCOPED_TRACE(info.path);
        const std::optional<SimReportDescriptor> descriptor = SimDescriptorFor(info.caps);
        ASSERT_TRUE(descriptor);
        const Result<ReportDescriptorInfo> parsed = ParseReportDescriptor(descriptor->bytes);
        ASSERT_TRUE(parsed) << parsed.message();
        EXPECT_EQ(parsed->caps, info.caps);
        EXPECT_EQ(parsed->usesReportIds, descriptor->reportId != 0);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, SimDescriptors,
                         testing::Values("g0", "g5", "g5x", "g12", "mx28", "mx29"));

TEST(SimDescriptorsUnknown, CapabilitiesNoInterfaceHasGetNone) {
    EXPECT_FALSE(SimDescriptorFor(HidCaps{0x0001, 2, 64, 8, 0}));
    EXPECT_FALSE(SimDescriptorFor(HidCaps{}));
}

}  // namespace
}  // namespace qvm
