#!/usr/bin/env python3
"""Plants deliberate faults one at a time and checks that the tests catch each.

Each fault replaces one exact piece of source text, rebuilds the test program that should
notice, runs it, and restores the source. A fault the tests do not catch is a gap in the
tests. Run from the repository root after configuring build-asan (see scripts/test.sh);
pass fault names to run only those. Exit status 1 when any fault survives.
"""
import pathlib
import subprocess
import sys

# name, file, original text, faulty text, test programs (caught when one of them fails)
FAULTS = [
    ("frame byte: block write command", "device/command_table.cpp",
     "E({F({0x01, 0x03, P0, P1, P3}, kNoReply, 6)})",
     "E({F({0x01, 0x04, P0, P1, P3}, kNoReply, 6)})", "device_tests"),
    ("pacing: wait before a long reply", "device/transport.h",
     "kPreWaitLongMs = 2;", "kPreWaitLongMs = 1;", "device_tests"),
    ("record offset: class C macro index", "config/image_layout.cpp",
     "     0x340, 0x480, 0x490,", "     0x344, 0x480, 0x490,", "config_tests macro_tests"),
    ("mode byte: selected host mode", "device/discovery.h",
     "kSelectedHostMode = 9;", "kSelectedHostMode = 8;", "device_tests"),
    ("best fit: largest block chosen", "macro/macro_memory_plan.cpp",
     "b.size < best->size", "b.size > best->size", "macro_tests"),
    ("restore guard: marker not checked", "config/backup.cpp",
     "contents.memory[0] != kConfigurationMarker", "contents.memory[0] == 0xEE",
     "config_tests"),
    ("UTF-16 name length", "config/image_layout.h",
     "kNameWriteChars = 9;", "kNameWriteChars = 10;", "config_tests"),
    ("hot-plug: an idle device's removal unreported", "device/discovery.cpp",
     "if (wasListed || wasActive) out.removed.push_back(path);",
     "if (wasActive) out.removed.push_back(path);", "device_tests"),
    ("deferred write: DPI delay", "config/deferred_writes.h",
     "kDpiDelay{200};", "kDpiDelay{20};", "config_tests"),
    ("quick binding: right Ctrl code", "present/quick_binding.cpp",
     "{0xE01D, kModRightCtrl},", "{0xE01D, kModLeftCtrl},", "app_tests"),
]


def run(cmd):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode


def main():
    wanted = sys.argv[1:]
    survivors = []
    for name, path, original, faulty, target in FAULTS:
        if wanted and not any(w in name for w in wanted):
            continue
        source = pathlib.Path(path)
        text = source.read_text()
        if text.count(original) != 1:
            print(f"?? {name}: the original text is not found once in {path}")
            survivors.append(name)
            continue
        source.write_text(text.replace(original, faulty))
        try:
            targets = target.split()
            if run(["cmake", "--build", "build-asan", "-j2", "--target", *targets]) != 0:
                print(f"caught (does not build)  {name}")
                continue
            caught = any(run([f"build-asan/tests/{t}", "--gtest_brief=1"]) != 0 for t in targets)
            print(f"{'caught' if caught else 'SURVIVED':24} {name}", flush=True)
            if not caught:
                survivors.append(name)
        finally:
            source.write_text(text)
    if survivors:
        print(f"{len(survivors)} fault(s) not caught")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
