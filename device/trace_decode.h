// Reads an exchange trace in the terms of the device command set: each request named
// after the command whose encoding it matches, with its simple arguments, and each reply
// after the request it answers.
#pragma once

#include <map>
#include <string>

#include "device/command_table.h"
#include "platform/hid_trace.h"

namespace qvm {

// The name of a command of the command set, e.g. "ReadPiece".
const char* CommandName(CommandId id);

struct DecodedExchange {
    std::string name;  // a command name, "reply NAME", "poll", ... or "unknown 0xNN"
    std::string args;  // "address=0x0100 length=2" and the like; may be empty
};

// Decodes records in file order. It keeps, for each interface, the request whose reply
// is still to come, so a feature report read after a command that waits for its reply
// is shown as that command's reply, and any other as a status poll.
class TraceDecoder {
  public:
    DecodedExchange Decode(const TraceRecord& record);

  private:
    DecodedExchange DecodeFeatureRequest(const TraceRecord& record);
    DecodedExchange DecodeFeatureRead(const TraceRecord& record);
    DecodedExchange DecodeKeyboardReport(const TraceRecord& record);

    std::map<std::string, std::string> awaiting_;  // path -> request whose reply comes next
};

}  // namespace qvm
