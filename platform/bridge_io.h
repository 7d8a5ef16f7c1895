// Line-oriented I/O on pipe file descriptors for the device bridge.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace qvm {

// Reads `\n`-ended lines from a file descriptor it does not own. A trailing '\r' is
// dropped so that answers written by tools that end lines with CRLF still parse.
class LineReader {
  public:
    enum class Outcome {
        Line,      // `line` holds the next line without its end
        End,       // the writer closed its end (a last unterminated line is dropped)
        TimedOut,  // no complete line before the deadline
        TooLong,   // the line exceeded the limit; it has been skipped up to its end
        Failed,    // read() or poll() failed
    };

    LineReader(int fd, std::size_t maxLength) : fd_(fd), maxLength_(maxLength) {}

    // Waits for the next line until `deadline` (forever when nullopt).
    Outcome Next(std::string& line, std::optional<std::chrono::steady_clock::time_point> deadline);

  private:
    // Moves the next complete line out of buffer_; false when there is none yet.
    bool TakeLine(std::string& line);

    int fd_;
    std::size_t maxLength_;
    std::string buffer_;
    bool skipping_ = false;  // discarding the rest of an over-long line
};

// Writes all of `text` to a pipe. A reader that has gone away makes this return false
// with errno EPIPE instead of killing the process: SIGPIPE is blocked in the calling
// thread for the write and a SIGPIPE raised by it is discarded before the old signal
// mask is restored. The process-wide disposition of SIGPIPE is left alone, so the
// library does not change behaviour the rest of the program may rely on.
//
// With a deadline, a reader that takes nothing until then makes this return false with
// errno ETIMEDOUT (the descriptor should then be non-blocking, or a full pipe blocks).
bool WriteAllNoSigpipe(int fd, std::string_view text,
                       std::optional<std::chrono::steady_clock::time_point> deadline = {});

}  // namespace qvm
