// Texts between libqvm (UTF-8 std::string) and Qt (QString). Every text a window shows
// comes from the UI string tables or from libqvm, so this is the only conversion needed.
#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "lang/ui_strings.h"

namespace qvm::ui {

inline QString ToQ(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQ(const QString& text) {
    return text.toStdString();
}

// A word_str entry with its "%s"/"%d" markers filled from `args` in turn.
// Line breaks of the tables ("\r\n") become Qt's "\n".
QString Word(WordText word, std::vector<std::string> args = {});

// An error as the windows show it: the table sentence for its kind in the language in
// force, then the program's detail on the next line.
QString ErrorMessage(const Error& error);

// A problem found while starting, whose kind is no longer known: the table's heading in
// the language in force, then the program's own text.
QString StartWarning(const std::string& warning);

}  // namespace qvm::ui
