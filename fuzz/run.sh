#!/usr/bin/env bash
# Builds the fuzzers with clang (once) and runs one of them for a bounded time.
#   fuzz/run.sh [build-dir] [seconds] [target]
# The target is fuzz_hex_image (the default), fuzz_lock_file, fuzz_proc_lines or
# fuzz_replies; its seeds are fuzz/corpus (the HEX texts) or fuzz/corpus-<target without fuzz_>.
# Exits 77 (skipped) when clang or its fuzzer runtime is missing.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../build/fuzz}"
seconds="${2:-60}"
target="${3:-fuzz_hex_image}"
case "$target" in
fuzz_hex_image) seeds="$here/corpus" max_len=2048 ;;
fuzz_lock_file) seeds="$here/corpus-lock-file" max_len=128 ;;
fuzz_proc_lines) seeds="$here/corpus-proc-lines" max_len=8192 ;;
fuzz_replies) seeds="$here/corpus-replies" max_len=4096 ;;
*) echo "unknown fuzz target $target" >&2; exit 2 ;;
esac
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
cmake --build "$build" --parallel 2 --target "$target"

# The seeds stay as they are; what the fuzzer finds goes to the build folder.
mkdir -p "$build/corpus/$target" "$build/artifacts/$target"
cd "$build"
set +e
# A finding must fail the test: libFuzzer's own exit code for one (77) is the code that
# marks this script as skipped.
"./$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -rss_limit_mb=4096 \
    -error_exitcode=1 -timeout_exitcode=1 \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$target/" "$build/corpus/$target" \
    "$seeds" >"$build/last-run-$target.log" 2>&1
status=$?
set -e
if [ "$status" -ne 0 ]; then
    tail -n 60 "$build/last-run-$target.log"
else
    grep -E "^#[0-9]+ +(INITED|DONE)|^Done|stat::" "$build/last-run-$target.log"
fi
exit "$status"
