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

struct UsbPathCase {
    const char* idVendor;
    const char* idProduct;
    const char* interfaceNumber;
    const char* node;
    const char* path;
};

class UsbAttributePaths : public testing::TestWithParam<UsbPathCase> {};

TEST_P(UsbAttributePaths, FormatLowerCasePath) {
    const UsbPathCase& c = GetParam();
    const Result<HidNodeIds> ids = IdsFromUsbAttributes(c.idVendor, c.idProduct, c.interfaceNumber);
    ASSERT_TRUE(ids.ok()) << ids.message();
    EXPECT_EQ(FormatHidrawPath(*ids, c.node), c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Sysfs, UsbAttributePaths,
    testing::Values(
        UsbPathCase{"0c45", "7040", "01", "hidraw3", "hid#vid_0c45&pid_7040&mi_01#hidraw3"},
        UsbPathCase{"0C45", "70A0", "02", "HIDRAW12", "hid#vid_0c45&pid_70a0&mi_02#hidraw12"},
        UsbPathCase{"0c45\n", "8101\n", "00\n", "hidraw0", "hid#vid_0c45&pid_8101&mi_00#hidraw0"},
        // bInterfaceNumber is hexadecimal in sysfs and in the path.
        UsbPathCase{"0c45", "7040", "0a", "hidraw4", "hid#vid_0c45&pid_7040&mi_0a#hidraw4"},
        UsbPathCase{"1", "2", "0", "hidraw1", "hid#vid_0001&pid_0002&mi_00#hidraw1"}));

struct BadAttributeCase {
    const char* idVendor;
    const char* idProduct;
    const char* interfaceNumber;
};

class BadUsbAttributes : public testing::TestWithParam<BadAttributeCase> {};

TEST_P(BadUsbAttributes, AreErrors) {
    const BadAttributeCase& c = GetParam();
    EXPECT_FALSE(IdsFromUsbAttributes(c.idVendor, c.idProduct, c.interfaceNumber).ok());
}

INSTANTIATE_TEST_SUITE_P(
    Sysfs, BadUsbAttributes,
    testing::Values(BadAttributeCase{"", "7040", "01"}, BadAttributeCase{"0x0c45", "7040", "01"},
                    BadAttributeCase{"10c45", "7040", "01"}, BadAttributeCase{"0c45", "zz40", "01"},
                    BadAttributeCase{"0c45", "-1", "01"}, BadAttributeCase{"0c45", "7040", "100"},
                    BadAttributeCase{"0c45", "7040", ""}));

struct IdsCase {
    const char* name;
    std::string text;
    std::optional<HidNodeIds> ids;  // nullopt: must be an error
};

class HidIdProperty : public testing::TestWithParam<IdsCase> {};

TEST_P(HidIdProperty, Parses) {
    const Result<HidNodeIds> ids = IdsFromHidId(GetParam().text);
    ASSERT_EQ(ids.ok(), GetParam().ids.has_value()) << (ids.ok() ? "" : ids.message());
    if (ids.ok()) {
        EXPECT_EQ(*ids, *GetParam().ids);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Udev, HidIdProperty,
    testing::Values(IdsCase{"Bluetooth", "0005:00000C45:00007040", HidNodeIds{0x0C45, 0x7040, 0}},
                    IdsCase{"TrailingNewline", "0003:000004D9:0000A0F8\n",
                            HidNodeIds{0x04D9, 0xA0F8, 0}},
                    IdsCase{"TwoFields", "0005:00000C45", std::nullopt},
                    IdsCase{"VendorTooBig", "0005:00010C45:00007040", std::nullopt},
                    IdsCase{"NotHex", "0005:0000GC45:00007040", std::nullopt},
                    IdsCase{"Empty", "", std::nullopt}),
    [](const testing::TestParamInfo<IdsCase>& info) { return info.param.name; });

class DevpathIds : public testing::TestWithParam<IdsCase> {};

TEST_P(DevpathIds, Parses) {
    const Result<HidNodeIds> ids = IdsFromDevpath(GetParam().text);
    ASSERT_EQ(ids.ok(), GetParam().ids.has_value()) << (ids.ok() ? "" : ids.message());
    if (ids.ok()) {
        EXPECT_EQ(*ids, *GetParam().ids);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Removal, DevpathIds,
    testing::Values(
        IdsCase{"UsbInterface1",
                "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.1/0003:0C45:7040.0005/hidraw/"
                "hidraw3",
                HidNodeIds{0x0C45, 0x7040, 1}},
        IdsCase{"BehindHub",
                "/devices/pci0000:00/0000:00:14.0/usb3/3-1/3-1.4/3-1.4:1.2/0003:0C45:70A0.000B/"
                "hidraw/hidraw11",
                HidNodeIds{0x0C45, 0x70A0, 2}},
        IdsCase{"Virtual", "/devices/virtual/misc/uhid/0005:046D:B01A.0007/hidraw/hidraw9",
                HidNodeIds{0x046D, 0xB01A, 0}},
        IdsCase{"NoHidDevice", "/devices/virtual/misc/hidraw/hidraw0", std::nullopt},
        IdsCase{"Empty", "", std::nullopt}),
    [](const testing::TestParamInfo<IdsCase>& info) { return info.param.name; });

struct NodeCase {
    const char* path;
    const char* node;  // nullptr: not a hidraw path
};

class NodeOfPath : public testing::TestWithParam<NodeCase> {};

TEST_P(NodeOfPath, ExtractsOnlyHidrawNodes) {
    const Result<std::string> node = HidrawNodeOfPath(GetParam().path);
    if (GetParam().node == nullptr) {
        EXPECT_FALSE(node.ok()) << *node;
    } else {
        ASSERT_TRUE(node.ok()) << node.message();
        EXPECT_EQ(*node, GetParam().node);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Open, NodeOfPath,
    testing::Values(NodeCase{"hid#vid_0c45&pid_7040&mi_01#hidraw3", "hidraw3"},
                    NodeCase{"HID#VID_0C45&PID_7040&MI_01#HIDRAW17", "hidraw17"},
                    NodeCase{"sim#vid_0c45&pid_7040&mi_01#1", nullptr},
                    NodeCase{"hid#vid_0c45&pid_7040&mi_01#hidraw", nullptr},
                    NodeCase{"hid#vid_0c45&pid_7040&mi_01#hidraw3x", nullptr},
                    NodeCase{"hid#vid_0c45&pid_7040&mi_01#hidraw/../../tty0", nullptr},
                    NodeCase{"hid#vid_0c45&pid_7040&mi_01#event3", nullptr},
                    NodeCase{"", nullptr}));

TEST(UsbLocation, ParsesDecimalAttributesAndRejectsOthers) {
    EXPECT_EQ(*UsbLocationFromAttributes("1", "4"), (UsbLocation{1, 4}));
    EXPECT_EQ(*UsbLocationFromAttributes("3\n", "127\n"), (UsbLocation{3, 127}));
    for (const char* bad : {"", "256", "x1", "0x1"}) {
        EXPECT_FALSE(UsbLocationFromAttributes(bad, "4").ok()) << bad;
        EXPECT_FALSE(UsbLocationFromAttributes("1", bad).ok()) << bad;
    }
}

struct PayloadCase {
    const char* name;
    Bytes received;
    std::optional<Bytes> payload;
};

class StringPayload : public testing::TestWithParam<PayloadCase> {};

TEST_P(StringPayload, KeepsRawBytesAfterHeader) {
    EXPECT_EQ(StringDescriptorPayload(GetParam().received), GetParam().payload);
}

INSTANTIATE_TEST_SUITE_P(
    Usb, StringPayload,
    testing::Values(
        PayloadCase{"Text", {0x08, 0x03, 'Q', 0, 'Z', 0, 'W', 0}, Bytes{'Q', 0, 'Z', 0, 'W', 0}},
        PayloadCase{"Binary",
                    {0x07, 0x03, 0x00, 0x01, 0x51, 0x5A, 0xFF},
                    Bytes{0x00, 0x01, 0x51, 0x5A, 0xFF}},
        PayloadCase{"LengthBelowReceived", {0x04, 0x03, 0xAA, 0xBB, 0xCC}, Bytes{0xAA, 0xBB}},
        PayloadCase{"LengthAboveReceived", {0x10, 0x03, 0xAA}, Bytes{0xAA}},
        PayloadCase{"HeaderOnly", {0x02, 0x03}, Bytes{}}, PayloadCase{"Nothing", {}, std::nullopt},
        PayloadCase{"HalfHeader", {0x02}, std::nullopt},
        PayloadCase{"NotAString", {0x04, 0x02, 0x01, 0x02}, std::nullopt},
        PayloadCase{"LengthBelowHeader", {0x01, 0x03, 0xAA}, std::nullopt}),
    [](const testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

TEST(UsbLanguage, FirstEntryOfTheTableIsLittleEndian) {
    EXPECT_EQ(FirstLanguage(Bytes{0x09, 0x04}), 0x0409);
    EXPECT_EQ(FirstLanguage(Bytes{0x07, 0x04, 0x09, 0x04}), 0x0407);
    EXPECT_EQ(FirstLanguage(Bytes{0x09}), std::nullopt);
    EXPECT_EQ(FirstLanguage(Bytes{}), std::nullopt);
}

}  // namespace
}  // namespace qvm

#endif  // QVM_HAVE_LINUX_HID

namespace qvm {
namespace {

struct PhysCase {
    const char* phys;
    std::optional<int> interface;
};

class PhysInterface : public testing::TestWithParam<PhysCase> {};

TEST_P(PhysInterface, ReadsTheNumberAfterInput) {
    EXPECT_EQ(InterfaceOfPhys(GetParam().phys), GetParam().interface);
}

INSTANTIATE_TEST_SUITE_P(
    NonUsb, PhysInterface,
    testing::Values(PhysCase{"usb-0000:00:14.0-2/input1", 1}, PhysCase{"qvm-uhid-0/input2", 2},
                    PhysCase{"qvm-uhid-3/input0", 0}, PhysCase{"a/input1/input12", 12},
                    PhysCase{"aa:bb:cc:dd:ee:ff", std::nullopt},
                    PhysCase{"qvm-uhid-0/input", std::nullopt},
                    PhysCase{"qvm-uhid-0/input-1", std::nullopt},
                    PhysCase{"qvm-uhid-0/input256", std::nullopt},
                    PhysCase{"qvm-uhid-0/inputx", std::nullopt}, PhysCase{"", std::nullopt}));

struct ContainerCase {
    const char* name;
    const char* physA;
    const char* uniqA;
    const char* physB;
    const char* uniqB;
    bool same;
};

class NonUsbContainer : public testing::TestWithParam<ContainerCase> {};

TEST_P(NonUsbContainer, SeparatesDevicesOnly) {
    const std::string parent = "/sys/devices/virtual/misc/uhid";
    const ContainerCase& c = GetParam();
    EXPECT_EQ(
        ContainerOfNonUsb(parent, c.physA, c.uniqA) == ContainerOfNonUsb(parent, c.physB, c.uniqB),
        c.same);
}

INSTANTIATE_TEST_SUITE_P(
    Uhid, NonUsbContainer,
    testing::Values(
        ContainerCase{"InterfacesOfOneDevice", "qvm-uhid-1/input0", "", "qvm-uhid-1/input2", "",
                      true},
        ContainerCase{"TwoDevices", "qvm-uhid-1/input0", "", "qvm-uhid-2/input0", "", false},
        ContainerCase{"SameSerialTwoPlaces", "qvm-uhid-1/input1", "MX-28", "qvm-uhid-2/input1",
                      "MX-28", false},
        // Bluetooth LE through uhid: the adapter's address, the device's address apart.
        ContainerCase{"TwoDevicesOnOneAdapter", "00:1a:7d:da:71:13", "c4:11:22:33:44:55",
                      "00:1a:7d:da:71:13", "c4:11:22:33:44:66", false},
        ContainerCase{"OneDeviceTwice", "00:1a:7d:da:71:13", "c4:11:22:33:44:55",
                      "00:1a:7d:da:71:13", "c4:11:22:33:44:55", true}),
    [](const testing::TestParamInfo<ContainerCase>& info) { return info.param.name; });

}  // namespace
}  // namespace qvm
