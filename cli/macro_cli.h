// What the macro commands of qvmctl share: how slots and modes are written on the
// command line, and the progress line of long device operations.
//
// Macro slots are numbered 1 to 80, as `show` lists them; slot N is the device's slot
// N - 1. Modes are the words once, loop and fire (run modes 8, 9 and 10).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/result.h"
#include "cli/commands.h"
#include "config/config_image.h"

namespace qvm::cli {

// A slot number 1..80 as the device's slot index 0..79.
Result<int> ParseMacroSlot(const std::string& text);
// The slot index as qvmctl prints it.
inline int MacroSlotNumber(int slot) {
    return slot + 1;
}

// once, loop or fire as the run mode 8, 9 or 10.
Result<int> ParseMacroMode(const std::string& text);
// The word of a run mode; values outside 8..10 run once.
const char* MacroModeWord(int mode);

// A percentage on one line of the error stream, rewritten in place, shown only when that
// stream is the process's standard error and a terminal; so pipes, logs and tests stay
// clean. The line is ended by Finish() or the destructor, so that the result or an error
// printed after it starts on a line of its own.
class TerminalProgress {
  public:
    TerminalProgress(std::ostream& err, std::string what);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    void operator()(double fraction);
    void operator()(int done, int total);
    // Ends the line (once); nothing when no percentage was shown.
    void Finish();

  private:
    std::ostream* err_;  // null when not shown
    std::string what_;
    int shown_ = -1;
};

// One "qvmctl: warning: " line for each damaged macro slot of a loaded image.
void PrintMacroWarnings(std::ostream& err, const ConfigImage& image);

// The library and function commands, registered by AddMacroCommands.
void AddLibraryCommands(std::vector<CommandSpec>& commands);

}  // namespace qvm::cli
