#!/usr/bin/env bash
# Builds the programs plainly, then builds and runs every test under AddressSanitizer with
# UndefinedBehaviorSanitizer, then the threaded test programs under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
# The optimisation of a user's build (-O2), so the same warnings stop the build; only line
# tables for the sanitizers' stack traces, since full debug information roughly doubles
# what the compiler writes and nobody debugs these builds.
build() {  # build DIR SANITIZER DEBUGINFO [TARGETS...]
    local dir=$1 san=$2 debug=$3
    shift 3
    cmake -S . -B "$dir" -DQVM_SANITIZE="$san" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 $debug -DNDEBUG" >/dev/null
    if (($#)); then
        cmake --build "$dir" -j "$jobs" --target "$@"
    else
        cmake --build "$dir" -j "$jobs"
    fi
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

# The programs as a user builds them, so a warning that only an unsanitized build raises
# still stops the test command. The tests themselves run under the sanitizers below.
echo "== plain build of the programs" >&2
build build "" -g0 qvm-sim qvmctl bench_load bench_memory bench_macro

echo "== AddressSanitizer + UndefinedBehaviorSanitizer" >&2
build build-asan address -g1 qvm-sim qvmctl app_tests device_tests platform_tests sim_tests \
    cli_tests config_tests macro_tests
ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== ThreadSanitizer (threaded programs)" >&2
build build-tsan thread -g1 device_tests platform_tests sim_tests config_tests macro_tests qvm-sim qvmctl
ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L 'device|platform|sim|config|macro'
