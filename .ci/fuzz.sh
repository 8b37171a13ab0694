#!/usr/bin/env bash
# Builds the fuzzers (clang, libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) of the whole run and of the Verilog reader, and
# runs each for a bounded time from its seed corpus.  Any crash, hang (an input running over the per-input timeout),
# sanitizer report, leak or read-back finding ends the script with a nonzero
# status; the input that caused it is kept in build-fuzz/artifacts/.
#
#   .ci/fuzz.sh [seconds]        default 60; FUZZ_SEED=N picks the random seed (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
# A fixed seed makes a run repeatable: the same inputs in the same order.
# FUZZ_SEED=0 lets libFuzzer pick one.
seed="${FUZZ_SEED:-1}"

CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZELK_FUZZ=ON -DZELK_TESTS=OFF -DZELK_BENCH=OFF
cmake --build build-fuzz --target zelk_fuzz zelk_fuzz_verilog

# The seeds stay as they are; what the run learns goes to a work corpus.
work=build-fuzz/corpus
mkdir -p "$work" build-fuzz/artifacts
cp fuzz/corpus/* "$work"/
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./build-fuzz/zelk_fuzz "$work" -dict=fuzz/nld.dict -max_total_time="$seconds" -seed="$seed" \
  -timeout=10 -rss_limit_mb=4096 -max_len=16384 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/
echo "fuzzing the whole run: ${seconds} s without a finding"

vwork=build-fuzz/corpus_verilog
mkdir -p "$vwork"
cp fuzz/corpus_verilog/* "$vwork"/
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ./build-fuzz/zelk_fuzz_verilog "$vwork" -max_total_time="$seconds" -seed="$seed" \
  -timeout=10 -rss_limit_mb=4096 -max_len=16384 -print_final_stats=1 \
  -artifact_prefix=build-fuzz/artifacts/
echo "fuzzing the Verilog reader: ${seconds} s without a finding"
