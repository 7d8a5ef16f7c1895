#include "present/info_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qvm {
namespace {

const InfoDevice kDevice{"M8 Pro", 0x01020304, false};

struct PinCase {
    int pin;
    const char* line;
};

class PinLineTest : public testing::TestWithParam<PinCase> {};

TEST_P(PinLineTest, PadsToFourDigits) {
    EXPECT_EQ(PinLine(UiStrings{}, GetParam().pin), GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PinLineTest,
    testing::Values(PinCase{7, "PIN number: 0007"}, PinCase{0, "PIN number: 0000"},
                    PinCase{999, "PIN number: 0999"}, PinCase{1234, "PIN number: 1234"},
                    PinCase{123456, "PIN number: 123456"}, PinCase{-7, "PIN number: -007"}));

TEST(InfoTextTest, PanelWithDeviceInEnglish) {
    EXPECT_EQ(InfoPanelText(UiStrings{}, kDevice, 7),
              "Model: M8 Pro\nSoftware version: 1.37\nFirmware version: 1.2.3.4\n"
              "PIN number: 0007\n");
    InfoDevice gen2 = kDevice;
    gen2.extendedButtonSet = true;
    EXPECT_EQ(InfoPanelText(UiStrings{}, gen2, 42),
              "Model: M8 Pro\nSoftware version: 1.37\nFirmware version: 1.2.3.4 (Gen2)\n"
              "PIN number: 0042\n");
    EXPECT_EQ(InfoPanelTextNoDevice(UiStrings{}), "\nSoftware version: 1.37\n\n");
}

TEST(InfoTextTest, PanelTakesTranslatedLabels) {
    UiStrings ui;
    ui.msg_str[58] = "Modell";
    ui.msg_str[59] = "PIN-Nummer";
    ui.msg_str[57] = "Hinweis";
    ui.version_str = "Softwareversion";
    ui.firmware_str = "Firmwareversion";
    EXPECT_EQ(InfoPanelText(ui, kDevice, 7),
              "Modell: M8 Pro\nSoftwareversion: 1.37\nFirmwareversion: 1.2.3.4\n"
              "PIN-Nummer: 0007\nHinweis");
    EXPECT_EQ(InfoPanelTextNoDevice(ui), "\nSoftwareversion: 1.37\n\nHinweis");
    // Percent signs in a label or a model name are text, never conversions.
    ui.msg_str[59] = "PIN %s%d";
    EXPECT_EQ(InfoPanelText(ui, {"100%d %s", 5, false}, 3),
              "Modell: 100%d %s\nSoftwareversion: 1.37\nFirmwareversion: 0.0.0.5\nPIN %s%d: 0003\n"
              "Hinweis");
}

TEST(InfoTextTest, InformationPageShowsFirmwareBytesMostSignificantFirst) {
    EXPECT_EQ(InformationPageText(kDevice),
              "Model:M8 Pro\r\nDriver Version: 1.37\r\nFirmware version: 1.2.3.4");
    EXPECT_EQ(InformationPageText({"X", 0xFF000A01, false}),
              "Model:X\r\nDriver Version: 1.37\r\nFirmware version: 255.0.10.1");
}

// The panel and the page show one firmware text for the same version, mouse or keyboard.
TEST(InfoTextTest, FirmwareReadsTheSameEverywhere) {
    struct Case {
        uint32_t version;
        const char* text;
    };
    for (const Case& c : {Case{48, "0.0.0.48"}, Case{0x01000103, "1.0.1.3"},
                          Case{0xFFFFFFFF, "255.255.255.255"}, Case{0, "0.0.0.0"}}) {
        const InfoDevice device{"K", c.version, true};
        EXPECT_EQ(FirmwareVersionText(c.version), c.text);
        EXPECT_NE(InfoPanelText(UiStrings{}, device, 1).find(std::string(": ") + c.text + " "),
                  std::string::npos);
        EXPECT_TRUE(InformationPageText(device).ends_with(std::string(": ") + c.text));
    }
}

TEST(InfoTextTest, FileMessagesNameTheFileAndTheReason) {
    struct Case {
        const char* message;
        const char* shown;
    };
    const Case cases[] = {
        {"invalid format !! (the file ends inside its header)",
         "invalid format !!\nsaved.bf: the file ends inside its header"},
        {"invalid format !!", "invalid format !!\nsaved.bf: not a file of the expected kind"},
        {"invalid format !! cut short", "invalid format !!\nsaved.bf: cut short"},
        {"cannot read: permission denied", "saved.bf: cannot read: permission denied"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileMessage(UiStrings{}, "saved.bf", c.message), c.shown);
    // A translated table text is recognised the same way.
    UiStrings ui;
    ui.msg_str[20] = "Format ungültig !!";
    EXPECT_EQ(FileMessage(ui, "a.mf", "Format ungültig !! (zu kurz)"),
              "Format ungültig !!\na.mf: zu kurz");
    EXPECT_EQ(NoDeviceText(UiStrings{}).substr(0, 13), "No device !!\n");
    EXPECT_NE(NoDeviceText(UiStrings{}).find(":\nqvm-gaming --simulate"), std::string::npos);
    EXPECT_EQ(NoDeviceText(UiStrings{}).find('\r'), std::string::npos);
}

TEST(InfoTextTest, ButtonToolTipHoldsTheWholeTextAndTheBytes) {
    const uint8_t keys[] = {0x05, 0x01, 0x06, 0x00};
    EXPECT_EQ(ButtonToolTip("Ctrl + C", keys), "Ctrl + C\nBytes: 05 01 06 00");
    const uint8_t high[] = {0xFF, 0xA0, 0x0B, 0x10};
    EXPECT_EQ(ButtonToolTip("", high), "\nBytes: FF A0 0B 10");
}

struct RateCase {
    int code;
    const char* text;  // nullptr: refused
};

class ReportRateTextTest : public testing::TestWithParam<RateCase> {};

TEST_P(ReportRateTextTest, ShowsHertzOrRefuses) {
    const Result<std::string> text = ReportRateText(GetParam().code);
    if (GetParam().text == nullptr) {
        EXPECT_FALSE(text.ok());
    } else {
        ASSERT_TRUE(text.ok()) << text.message();
        EXPECT_EQ(*text, GetParam().text);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReportRateTextTest,
                         testing::Values(RateCase{0, "1000Hz"}, RateCase{1, "500Hz"},
                                         RateCase{2, "333Hz"}, RateCase{7, "125Hz"},
                                         RateCase{-1, nullptr}, RateCase{8, nullptr}));

}  // namespace
}  // namespace qvm
