// What the system tells about a hidraw node (sysfs attributes, udev properties, device
// paths, string descriptors) is outside input: it is read exactly, and anything odd is
// refused rather than guessed at or followed out of its folder.
#ifdef QVM_HAVE_LINUX_HID

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/hid_path.h"

namespace qvm {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(HidrawPath, UsbAttributesMakeALowerCasePathOrAreRefused) {
    const struct {
        const char* vendor;
        const char* product;
        const char* interface;
        const char* path;  // nullptr: refused
    } cases[] = {
        {"0C45", "70A0", "02", "hid#vid_0c45&pid_70a0&mi_02#hidraw12"},
        {"0c45\n", "8101\n", "00\n", "hid#vid_0c45&pid_8101&mi_00#hidraw12"},
        // bInterfaceNumber is hexadecimal in sysfs and in the path.
        {"0c45", "7040", "0a", "hid#vid_0c45&pid_7040&mi_0a#hidraw12"},
        {"0x0c45", "7040", "01", nullptr},
        {"10c45", "7040", "01", nullptr},
        {"0c45", "7040", "100", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.vendor) + " " + c.product + " " + c.interface);
        const Result<HidNodeIds> ids = IdsFromUsbAttributes(c.vendor, c.product, c.interface);
        ASSERT_EQ(ids.ok(), c.path != nullptr);
        if (ids) {
            EXPECT_EQ(FormatHidrawPath(*ids, "HIDRAW12"), c.path);
        }
    }
}

// Only a hidraw node of /dev is ever opened from a path.
TEST(HidrawPath, OnlyHidrawNodesAreTakenFromAPath) {
    const struct {
        const char* path;
        const char* node;  // nullptr: not a hidraw path
    } cases[] = {
        {"HID#VID_0C45&PID_7040&MI_01#HIDRAW17", "hidraw17"},
        {"sim#vid_0c45&pid_7040&mi_01#1", nullptr},
        {"hid#vid_0c45&pid_7040&mi_01#hidraw3x", nullptr},
        {"hid#vid_0c45&pid_7040&mi_01#hidraw/../../tty0", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Result<std::string> node = HidrawNodeOfPath(c.path);
        ASSERT_EQ(node.ok(), c.node != nullptr);
        if (node) {
            EXPECT_EQ(*node, c.node);
        }
    }
    EXPECT_EQ(*UsbLocationFromAttributes("3\n", "127\n"), (UsbLocation{3, 127}));
    for (const char* bad : {"", "256", "0x1"})
        EXPECT_FALSE(UsbLocationFromAttributes(bad, "4").ok());
}

}  // namespace
}  // namespace qvm

#endif  // QVM_HAVE_LINUX_HID
