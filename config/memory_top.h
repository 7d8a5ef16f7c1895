// The memory top of a mouse (the address of the last byte of its memory), learnt with
// reads alone, so that commands that only read never change the device.
//
// Class C devices report it in their status reply. The others carry no size: a device
// that was initialised by this program holds the 0x12 size marks in the top two bytes of
// its memory, found by reading the top of each power-of-two size (addresses past the
// real memory wrap onto it). A device without the marks is measured by the same wrap:
// the first bytes of the memory (the configuration header) read again at address S
// when the memory holds S bytes, and differ there (the macro heap) when it holds more.
// When those first bytes are all alike (erased or blank memory) the size cannot be told
// by reading: that is an error of kind Uninitialised, since no configuration is there.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.h"

namespace qvm {

class DeviceCommands;

// Never writes device memory. Errors: the device did not answer, a class C device
// reported a size too small to hold a configuration, or the size cannot be read from
// a memory whose first bytes are all alike (ErrorKind::Uninitialised).
Result<uint32_t> LearnMemoryTop(DeviceCommands& commands, const std::string& path);

}  // namespace qvm
