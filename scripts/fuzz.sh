#!/usr/bin/env bash
# Builds the fuzz targets with clang (in build-fuzz) and runs each for SECONDS (default 60)
# from its seed corpus (tests/fuzz/corpus/TARGET). New inputs that reach new code are kept
# in a scratch folder (build-fuzz/fuzz-scratch/TARGET/corpus, or under $QVM_FUZZ_SCRATCH),
# so a later run goes on from there; the seed corpus is never written. An input that
# crashes or trips a check is kept in .../TARGET/crashes and listed at the end, and the
# script then exits 1. Reproduce one with: build-fuzz/tests/TARGET CRASH-FILE
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

all_targets=(ini_fuzz ini_files_fuzz macro_file_fuzz macro_text_fuzz backup_fuzz
    bridge_server_fuzz bridge_client_fuzz hid_report_fuzz device_reply_fuzz keyboard_reply_fuzz
    sim_devices_fuzz remote_decode_fuzz)

usage() {
    echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]" >&2
    echo "targets: ${all_targets[*]}" >&2
    exit 2
}

seconds=60
if (($#)) && [[ $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
((seconds > 0)) || { echo "fuzz.sh: SECONDS_PER_TARGET must be at least 1" >&2; usage; }
targets=("$@")
((${#targets[@]})) || targets=("${all_targets[@]}")
for target in "${targets[@]}"; do
    [[ " ${all_targets[*]} " == *" $target "* ]] || { echo "fuzz.sh: no target '$target'" >&2; usage; }
done
command -v clang++ >/dev/null 2>&1 || { echo "fuzz.sh: clang++ is needed (apt-get install clang)" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B build-fuzz -DQVM_SANITIZE=address -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_COMPILER=clang++ \
    -DQVM_BUILD_FUZZ=ON -DQVM_BUILD_GUI=OFF -DQVM_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# Targets that read through a path write each input as a file (and save settings over it):
# on a memory file system that costs little.
if [[ -d /dev/shm && -w /dev/shm ]]; then export TMPDIR=/dev/shm; fi
scratch=${QVM_FUZZ_SCRATCH:-build-fuzz/fuzz-scratch}
failed=()
started=$(mktemp)  # crash files newer than this one come from this run
trap 'rm -f "$started"' EXIT
for target in "${targets[@]}"; do
    mkdir -p "$scratch/$target/corpus" "$scratch/$target/crashes"
    seeds=tests/fuzz/corpus/$target
    [[ -d $seeds ]] || seeds=
    echo "== $target for $seconds s" >&2
    # -timeout: an input that takes longer than this is a hang and kept as a crash.
    if ! build-fuzz/tests/"$target" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
        -artifact_prefix="$scratch/$target/crashes/" "$scratch/$target/corpus" ${seeds:+"$seeds"}; then
        failed+=("$target")
    fi
done

crashes=$(find "$scratch" -path '*/crashes/*' -type f -newer "$started" 2>/dev/null || true)
if ((${#failed[@]})); then
    echo "== fuzz.sh: ${failed[*]} failed; the inputs that did it:" >&2
    echo "$crashes" >&2
    exit 1
fi
echo "== fuzz.sh: no crash in ${targets[*]}" >&2
