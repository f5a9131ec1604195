#!/usr/bin/env bash
# Builds the host fuzz target with clang (libFuzzer + AddressSanitizer + UBSan) in build-fuzz and
# runs it over the seed corpus in fuzz/corpus.
#
#   scripts/fuzz.sh [seconds] [extra libFuzzer flags...]    (default: 60 seconds)
#
# The build folder is build-fuzz, or $HELIQ_FUZZ_BUILD when set.
# New inputs go to build-fuzz/corpus (the seeds stay as they are); a crashing input is written to
# build-fuzz/ as crash-<hash> and the script exits non-zero. Replay one with
#   build-fuzz/host_fuzzer build-fuzz/crash-<hash>
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

seconds=${1:-60}
shift || true
build=${HELIQ_FUZZ_BUILD:-build-fuzz}

# The clang the install script installs (libFuzzer ships with clang's runtime libraries).
compiler=${HELIQ_FUZZ_CXX:-clang++-16}
if ! command -v "$compiler" >/dev/null; then echo "fuzz.sh: $compiler is not installed" >&2; exit 1; fi
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
echo "== building the fuzz target ($build: clang, libFuzzer, ASan + UBSan)"
cmake -S fuzz -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j2 --target host_fuzzer

mkdir -p "$build/corpus"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
echo "== fuzzing the host's request handling for ${seconds}s"
"$build/host_fuzzer" -max_total_time="$seconds" -max_len=4096 -timeout=20 \
  -dict=fuzz/http.dict -artifact_prefix="$build/" -print_final_stats=1 "$@" \
  "$build/corpus" fuzz/corpus
