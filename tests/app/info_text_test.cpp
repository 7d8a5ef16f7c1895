#include "present/info_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qvm {
namespace {

const InfoDevice kDevice{"M8 Pro", 0x01020304, false};

// Translated labels are used as they are; percent signs in a label or a model name are
// text, never conversions.
TEST(InfoTextTest, PanelTakesTranslatedLabelsAsText) {
    UiStrings ui;
    ui.msg_str[58] = "Modell";
    ui.msg_str[59] = "PIN %s%d";
    ui.msg_str[57] = "Hinweis";
    ui.version_str = "Softwareversion";
    ui.firmware_str = "Firmwareversion";
    EXPECT_EQ(InfoPanelText(ui, {"100%d %s", 5, true}, 3),
              "Modell: 100%d %s\nSoftwareversion: 1.37\nFirmwareversion: 0.0.0.5 (Gen2)\n"
              "PIN %s%d: 0003\nHinweis");
    EXPECT_EQ(InfoPanelTextNoDevice(ui), "\nSoftwareversion: 1.37\n\nHinweis");
}

// The panel and the page show one firmware text for the same version, most significant
// byte first.
TEST(InfoTextTest, FirmwareReadsTheSameEverywhere) {
    struct Case {
        uint32_t version;
        const char* text;
    };
    for (const Case& c : {Case{0x01000103, "1.0.1.3"}, Case{0xFFFFFFFF, "255.255.255.255"}}) {
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
        {"cannot read: permission denied", "saved.bf: cannot read: permission denied"},
    };
    for (const Case& c : cases) EXPECT_EQ(FileMessage(UiStrings{}, "saved.bf", c.message), c.shown);
    // A translated table text is recognised the same way.
    UiStrings ui;
    ui.msg_str[20] = "Format ungültig !!";
    EXPECT_EQ(FileMessage(ui, "a.mf", "Format ungültig !! (zu kurz)"),
              "Format ungültig !!\na.mf: zu kurz");
}

// Bytes above 0x7F show as two hex digits, not as a negative number's.
TEST(InfoTextTest, ButtonToolTipShowsTheBytesUnsigned) {
    const uint8_t high[] = {0xFF, 0xA0, 0x0B, 0x10};
    EXPECT_EQ(ButtonToolTip("Ctrl + C", high), "Ctrl + C\nBytes: FF A0 0B 10");
}

TEST(InfoTextTest, ReportRateCodesOutsideTheTableAreRefused) {
    for (int code : {-1, 8}) EXPECT_FALSE(ReportRateText(code).ok()) << code;
    EXPECT_EQ(*ReportRateText(7), "125Hz");
}

}  // namespace
}  // namespace qvm
