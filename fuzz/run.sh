#!/usr/bin/env bash
# Builds the HEX/image fuzzer with clang (once) and runs it for a bounded time.
#   fuzz/run.sh [build-dir] [seconds]
# Exits 77 (skipped) when clang or its fuzzer runtime is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/fuzz}"
seconds="${2:-60}"
mkdir -p "$build"
build="$(cd "$build" && pwd)" # the run below changes into it

command -v clang++ >/dev/null || { echo "clang++ not found: fuzzing skipped"; exit 77; }
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The coverage ignore list changes what the compiler emits without changing its command line.
export CCACHE_EXTRAFILES="$here/coverage-ignore.txt"
if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
    generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    CXX=clang++ cmake -S "$here" -B "$build" "${generator[@]}" "${launcher[@]}" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null ||
        { echo "fuzzer configure failed: fuzzing skipped"; exit 77; }
fi
cmake --build "$build" --parallel 2

# The seeds stay as they are; what the fuzzer finds goes to the build folder.
mkdir -p "$build/corpus" "$build/artifacts"
cd "$build"
set +e
./fuzz_hex_image -max_total_time="$seconds" -max_len=2048 -timeout=30 -rss_limit_mb=4096 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/" "$build/corpus" "$here/corpus" \
    >"$build/last-run.log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    tail -n 60 "$build/last-run.log"
else
    grep -E "^#[0-9]+ +(INITED|DONE)|^Done|stat::" "$build/last-run.log"
fi
exit "$status"
