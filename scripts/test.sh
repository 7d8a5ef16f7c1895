#!/usr/bin/env bash
# Builds the programs plainly, then builds and runs every test under AddressSanitizer with
# UndefinedBehaviorSanitizer (the windows' tests on Qt's offscreen platform), then the
# threaded test programs under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
build() {  # build DIR SANITIZER FLAGS CMAKE-OPTIONS [TARGETS...]
    local dir=$1 san=$2 flags=$3 options=$4
    shift 4
    # shellcheck disable=SC2086  # the options are separate words
    cmake -S . -B "$dir" -DQVM_SANITIZE="$san" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="$flags -DNDEBUG" $options >/dev/null
    if (($#)); then
        cmake --build "$dir" -j "$jobs" --target "$@"
    else
        cmake --build "$dir" -j "$jobs"
    fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# Every program as a user builds it (-O2), so a warning that only an optimised build
# raises still stops the test command. No debug information: nobody debugs this build.
echo "== plain build of the programs" >&2
build build "" "-O2 -g0" "-DQVM_BUILD_TESTS=OFF -DQVM_BUILD_BENCH=ON -DQVM_BUILD_VM_TESTS=ON"

# Both programs without the Linux platform (no libudev, libusb or X11 code): the build
# that runs only on simulated devices and the device bridge must still link.
echo "== build without the Linux platform" >&2
build build-nolinux "" "-O0 -g0" "-DQVM_LINUX_HID=OFF -DQVM_BUILD_TESTS=OFF -DQVM_BUILD_BENCH=OFF" \
    qvmctl qvm-gaming

# The plain programs against a real kernel: hidraw, the HID core and its device events.
echo "== end-to-end tests in a virtual machine" >&2
vm_status=0
scripts/vm-test.sh --build build || vm_status=$?
if ((vm_status == 77)); then
    echo "== end-to-end tests SKIPPED: qemu cannot run on this machine" >&2
elif ((vm_status != 0)); then
    exit "$vm_status"
fi
if udevadm verify --help >/dev/null 2>&1; then
    udevadm verify --resolve-names=never data/70-qvm-gaming.rules data/71-qvm-gaming-uinput.rules
else
    echo "== udev rule not checked: no udevadm with 'verify' here (systemd 254 or later)" >&2
fi

# The Debian package of the plain build, checked and its programs started unpacked (about
# 10 seconds, most of it cpack compressing).
echo "== Debian package" >&2
scripts/check-deb.sh build

# The sanitizer builds only run tests: -O1 keeps them fast enough to run while compiling
# much faster than -O2, and line tables are all the sanitizers' stack traces need.
echo "== AddressSanitizer + UndefinedBehaviorSanitizer" >&2
build build-asan address "-O1 -g1" "-DQVM_BUILD_TESTS=ON -DQVM_BUILD_BENCH=OFF" \
    qvm-sim qvmctl app_tests device_tests platform_tests sim_tests cli_tests config_tests \
    macro_tests lighting_tests host_tests net_tests ui_tests fuzz_corpus_tests
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# Every parser's fuzz target under libFuzzer, briefly: the seed corpus (tests/fuzz/corpus)
# and then 8 s of new inputs each, about 100 s for all twelve (scripts/fuzz.sh runs them long).
# Building the libraries once more with clang takes about 5 minutes on 2 cores without
# ccache.
if command -v clang++ >/dev/null 2>&1; then
    echo "== fuzzing every parser" >&2
    fuzz_targets=(ini_fuzz ini_files_fuzz macro_file_fuzz macro_text_fuzz backup_fuzz
        bridge_server_fuzz bridge_client_fuzz hid_report_fuzz device_reply_fuzz keyboard_reply_fuzz
        sim_devices_fuzz remote_decode_fuzz)
    build build-fuzz address "-O1 -g1" "-DCMAKE_CXX_COMPILER=clang++ -DQVM_BUILD_FUZZ=ON \
        -DQVM_BUILD_GUI=OFF -DQVM_BUILD_BENCH=OFF" "${fuzz_targets[@]}"
    corpus=$(mktemp -d)
    # The ini files target writes each input as files: on a memory file system if any.
    fuzz_tmp=${TMPDIR:-/tmp}
    if [[ -d /dev/shm && -w /dev/shm ]]; then fuzz_tmp=/dev/shm; fi
    for target in "${fuzz_targets[@]}"; do
        mkdir "$corpus/$target"
        seeds=tests/fuzz/corpus/$target
        [[ -d $seeds ]] || seeds=
        TMPDIR=$fuzz_tmp build-fuzz/tests/"$target" -max_total_time=8 -timeout=20 -artifact_prefix="$corpus/" \
            "$corpus/$target" ${seeds:+"$seeds"} 2>"$corpus/$target.log" ||
            { tail -n 60 "$corpus/$target.log" >&2; exit 1; }
    done
    rm -rf "$corpus"
else
    echo "== fuzzing SKIPPED: no clang++ here" >&2
fi

echo "== ThreadSanitizer (threaded programs)" >&2
build build-tsan thread "-O1 -g1" "-DQVM_BUILD_TESTS=ON -DQVM_BUILD_BENCH=OFF -DQVM_BUILD_GUI=OFF" \
    app_tests device_tests platform_tests sim_tests config_tests macro_tests lighting_tests host_tests \
    net_tests qvm-sim qvmctl
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L 'app|device|platform|sim|config|macro|lighting|host|net'
