#include "ui/qt_text.h"

#include "macro/macro_describe.h"
#include "present/error_text.h"

namespace qvm::ui {

QString Word(WordText word, std::vector<std::string> args) {
    return ToQ(FillTextTemplate(Ui().word_str[word], args)).replace("\r\n", "\n");
}

QString ErrorMessage(const Error& error) {
    return ToQ(ErrorText(Ui(), error));
}

QString StartWarning(const std::string& warning) {
    return Word(kWordStartWarning) + "\n" + ToQ(warning);
}

}  // namespace qvm::ui
