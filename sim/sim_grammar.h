// The simulated-device list of `--hid sim:DEVICES` and `--simulate=DEVICES`.
//
//   DEVICES  a comma-separated list of ITEMs; the empty list is the default set, one
//            class C mouse ("g12").
//   ITEM     KIND followed by zero or more "/OPTION".
//   KIND     gN     a mouse of protocol generation N (0..255): 0 talks 9-byte feature
//                   reports on mi_00, 1..10 and 11 and up talk 64-byte feature reports
//                   (mi_01 for 1..10, mi_02 from 11 on)
//            gNx    the same with the extended-layout flag; only for N from 3 to 10
//                   (from 11 on the extended layout is always in force)
//            mx28   the keyboard with serial number "MX-28"
//            mx29   the keyboard with serial number "MX-29"
//   OPTION   model=N      model code the device reports (0..255)
//            fw=N         firmware version: 0..255 for mice, 32 bits for keyboards
//            mem=SIZE     memory size: 8k, 16k, 32k or 64k
//            id1=N        identity byte 1 (DPI step: 0x12 gives 100 DPI a step, else 50)
//            id2=N        identity byte 2 (DPI step count)
//            id3=N        identity byte 3
//            id4=N        identity byte 4 (generation 0 only)
//            class=N      device class (the host accepts class 4 only)
//            flags=N      feature flags
//            pid=HEX      USB product identifier, hexadecimal (0x optional)
//            product=TEXT product string, 1 to 63 characters, no "," or "/"
//            blank        memory starts uninitialised (0xFF everywhere, no 0x12 marker)
//            busy=N       the device answers "busy" to N feature reads after each command
//            busy=forever the device is always busy
//            noreply      feature reads fail (keyboards: no input report comes back)
//            removeafter=N the device leaves after N more transfers (1 or more)
//            corrupt      replies carry wrong data bytes and a wrong check byte
//            cost=MS      every control transfer takes MS milliseconds (0..1000)
//            report=HEX[+HEX...] vendor input reports (1 to 16 bytes each, at most 64)
//                         waiting in the mouse's report queue when it starts
//   Numbers are decimal or 0x hexadecimal; out-of-range values are refused.
//   Keyboards take fw, pid, product, noreply, removeafter, corrupt and cost only.
//
// Defaults of each kind:
//   g0     model 11 ("MX-12"), fw 0x20, mem 16k, id1 0x0F, id2 160, id4 1, pid 7010
//   g1-g10 model 21 ("MX-19"), fw 0x21, mem 32k, id1 0x0F, id2 160, pid 7020
//   g11+   model 25 ("MX-21"), fw 0x30, mem 64k, id1 0x12, id2 160, pid 7030
//   every mouse: id3 0, class 4, flags 1, product "QVM Gaming Mouse"
//   mx28   pid 7050, fw 0x01000203, product "QVM Gaming Keyboard"
//   mx29   pid 7051, fw 0x01000203, product "QVM Gaming Keyboard"
// Examples: "g0,g5x/fw=40,g12/mem=32k/busy=3", "mx28/product=MX-30 Pro", "g12/removeafter=20",
//           "g12/report=0b0b000000000000000000+0b0b010000000000000000".
#pragma once

#include <string_view>
#include <vector>

#include "base/result.h"
#include "sim/sim_config.h"

namespace qvm {

// Parses a whole device list. The error message names the bad item and what is wrong.
Result<std::vector<SimDeviceConfig>> ParseSimDevices(std::string_view text);

// Parses one ITEM.
Result<SimDeviceConfig> ParseSimDevice(std::string_view item);

}  // namespace qvm
