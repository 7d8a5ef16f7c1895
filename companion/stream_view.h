// What `qvm-companion watch` makes of the status stream: the list packets counted into one
// summary, and each status packet turned into one line, kept only when it says something
// the last line did not.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/remote_packets.h"

namespace qvm::companion {

class StreamView {
  public:
    // The lines one 400-byte packet adds to the output (none, or the summary and a line).
    std::vector<std::string> Take(std::span<const std::uint8_t> packet);
    // Status lines given so far ("no device" included), the summary not counted.
    int StatusLines() const { return statusLines_; }

  private:
    void Count(std::uint8_t listType, std::span<const std::uint8_t> packet);
    std::string Summary() const;

    std::vector<int> entries_ = std::vector<int>(12, 0);  // by list type
    bool summaryGiven_ = false;
    std::string last_;
    int statusLines_ = 0;
};

// "profile 2 "Name" #RRGGBB stage 1 dpi 16x16 ... of 100 buttons 01000000 ..."
std::string StatusLine(const remote::DecodedStatus& status);

}  // namespace qvm::companion
