// The first line of every error message the windows show comes from the tables by the
// error's kind, so that a translated table puts the user's language first; the program's
// detail follows unchanged.
#include "present/error_text.h"

#include <gtest/gtest.h>

#include <set>

#include "support/temp_folder.h"

namespace qvm {
namespace {

constexpr ErrorKind kAllKinds[] = {
    ErrorKind::Other,        ErrorKind::DeviceGone,    ErrorKind::DeviceBusy,
    ErrorKind::DeviceSilent, ErrorKind::DeviceGarbled, ErrorKind::DeviceRefused,
    ErrorKind::NoSpace,      ErrorKind::Uninitialised, ErrorKind::BadInput,
    ErrorKind::Io,
};

// Each kind has a sentence of its own: two kinds that shared one would tell the user the
// wrong cause.
TEST(ErrorTextTest, EveryKindHasItsOwnSentence) {
    const UiStrings english;
    std::set<std::string> seen;
    for (ErrorKind kind : kAllKinds) {
        const std::string& text = ErrorKindText(english, kind);
        EXPECT_FALSE(text.empty()) << static_cast<int>(kind);
        EXPECT_TRUE(seen.insert(text).second) << text;
    }
}

struct ErrorTextCase {
    const char* label;
    ErrorKind kind;
    const char* detail;
    const char* expected;
};

class ErrorTextCases : public testing::TestWithParam<ErrorTextCase> {};

TEST_P(ErrorTextCases, SentenceThenDetail) {
    EXPECT_EQ(ErrorText(UiStrings(), MakeError(GetParam().kind, GetParam().detail)),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ErrorTextCases,
    testing::Values(
        ErrorTextCase{"gone", ErrorKind::DeviceGone,
                      "the device left during the backup (40 % read)",
                      "The device left: it was unplugged or switched off.\n"
                      "the device left during the backup (40 % read)"},
        // The device's own table text for a full macro memory.
        ErrorTextCase{"no_space", ErrorKind::NoSpace, "8 bytes free, 20 needed",
                      "Lack of space !!\n8 bytes free, 20 needed"},
        ErrorTextCase{"io", ErrorKind::Io, "cannot write /x/y.bf: No space left on device",
                      "A file or folder could not be read or written.\n"
                      "cannot write /x/y.bf: No space left on device"},
        ErrorTextCase{"other", ErrorKind::Other, "no mouse is connected",
                      "The operation did not succeed.\nno mouse is connected"},
        ErrorTextCase{"no_detail", ErrorKind::DeviceSilent, "", "The device did not answer."}),
    [](const auto& info) { return std::string(info.param.label); });

// The sentence follows the language file; the detail stays as the program wrote it.
TEST(ErrorTextTest, TranslatedSentenceComesFirst) {
    test::TempFolder dir;
    const std::string path =
        dir.Write("language.ini", "[1031]\ntype_str1=Keine Funktion\nword_str" +
                                      std::to_string(kWordErrorDeviceGone) +
                                      "=Das Gerät ist weg.\nmsg_str19=Voll !!\n");
    UiStrings german;
    LoadLanguageStrings(german, 1031, path);
    EXPECT_EQ(ErrorText(german, MakeError(ErrorKind::DeviceGone, "left at 0x0040")),
              "Das Gerät ist weg.\nleft at 0x0040");
    EXPECT_EQ(ErrorText(german, MakeError(ErrorKind::NoSpace, "slot 3")), "Voll !!\nslot 3");
}

}  // namespace
}  // namespace qvm
