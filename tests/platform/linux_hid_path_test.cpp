// What the system tells about a hidraw node (sysfs attributes, udev properties, device
// paths, string descriptors) is outside input: it is read exactly, and anything odd is
// refused rather than guessed at or followed out of its folder.
#ifdef QVM_HAVE_LINUX_HID

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/hid_path.h"
#include "platform/linux/usb_strings.h"

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
        {"0c45", "-1", "01", nullptr},
        {"0c45", "7040", "100", nullptr},
        {"0c45", "7040", "", nullptr},
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

TEST(HidrawPath, UdevPropertiesAndDevicePathsGiveTheIds) {
    const struct {
        bool devpath;  // else a HID_ID property
        std::string text;
        std::optional<HidNodeIds> ids;
    } cases[] = {
        {false, "0003:000004D9:0000A0F8\n", HidNodeIds{0x04D9, 0xA0F8, 0}},
        {false, "0005:00000C45", std::nullopt},
        {false, "0005:00010C45:00007040", std::nullopt},
        {true,
         "/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4:1.2/0003:0C45:70A0.000B/hidraw/"
         "hidraw11",
         HidNodeIds{0x0C45, 0x70A0, 2}},
        {true, "/devices/virtual/misc/uhid/0005:046D:B01A.0007/hidraw/hidraw9",
         HidNodeIds{0x046D, 0xB01A, 0}},
        {true, "/devices/virtual/misc/hidraw/hidraw0", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const Result<HidNodeIds> ids = c.devpath ? IdsFromDevpath(c.text) : IdsFromHidId(c.text);
        ASSERT_EQ(ids.ok(), c.ids.has_value());
        if (ids) {
            EXPECT_EQ(*ids, *c.ids);
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
        {"hid#vid_0c45&pid_7040&mi_01#hidraw", nullptr},
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

// A string descriptor's own length may be shorter or longer than what arrived.
TEST(UsbStrings, PayloadIsCutToWhatArrivedAndTheDescriptorSays) {
    const struct {
        Bytes received;
        std::optional<Bytes> payload;
    } cases[] = {
        {{0x07, 0x03, 0x00, 0x01, 0x51, 0x5A, 0xFF}, Bytes{0x00, 0x01, 0x51, 0x5A, 0xFF}},
        {{0x04, 0x03, 0xAA, 0xBB, 0xCC}, Bytes{0xAA, 0xBB}},
        {{0x10, 0x03, 0xAA}, Bytes{0xAA}},
        {{0x02}, std::nullopt},
        {{0x04, 0x02, 0x01, 0x02}, std::nullopt},
        {{0x01, 0x03, 0xAA}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(StringDescriptorPayload(c.received), c.payload);
    EXPECT_EQ(FirstLanguage(Bytes{0x07, 0x04, 0x09, 0x04}), 0x0407);
    EXPECT_EQ(FirstLanguage(Bytes{0x09}), std::nullopt);
}

}  // namespace
}  // namespace qvm

#endif  // QVM_HAVE_LINUX_HID

namespace qvm {
namespace {

TEST(NonUsbHid, InterfaceNumberAndContainerFromThePhysicalPath) {
    const struct {
        const char* phys;
        std::optional<int> interface;
    } interfaces[] = {
        {"usb-0000:00:14.0-2/input1", 1},      {"a/input1/input12", 12},
        {"qvm-uhid-0/input", std::nullopt},    {"qvm-uhid-0/input-1", std::nullopt},
        {"qvm-uhid-0/input256", std::nullopt}, {"aa:bb:cc:dd:ee:ff", std::nullopt},
    };
    for (const auto& c : interfaces) EXPECT_EQ(InterfaceOfPhys(c.phys), c.interface) << c.phys;

    const std::string parent = "/sys/devices/virtual/misc/uhid";
    const struct {
        const char* physA;
        const char* uniqA;
        const char* physB;
        const char* uniqB;
        bool same;
    } containers[] = {
        {"qvm-uhid-1/input0", "", "qvm-uhid-1/input2", "", true},
        {"qvm-uhid-1/input1", "MX-28", "qvm-uhid-2/input1", "MX-28", false},
        // Bluetooth LE through uhid: the adapter's address, the device's address apart.
        {"00:1a:7d:da:71:13", "c4:11:22:33:44:55", "00:1a:7d:da:71:13", "c4:11:22:33:44:66", false},
        {"00:1a:7d:da:71:13", "c4:11:22:33:44:55", "00:1a:7d:da:71:13", "c4:11:22:33:44:55", true},
    };
    for (const auto& c : containers) {
        EXPECT_EQ(ContainerOfNonUsb(parent, c.physA, c.uniqA) ==
                      ContainerOfNonUsb(parent, c.physB, c.uniqB),
                  c.same)
            << c.physA << " " << c.uniqA << " / " << c.physB << " " << c.uniqB;
    }
}

}  // namespace
}  // namespace qvm
