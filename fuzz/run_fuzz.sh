#!/bin/bash
# Builds the libFuzzer target with clang and runs it on the seed corpus.
# usage: fuzz/run_fuzz.sh [seconds=60] [build-dir=build-fuzz] [tree-budget=10000]
# The tree budget bounds the raw i-trees of one input; a larger one makes a
# slower run that reaches large term stores (it then allows 60 s per input
# instead of 15 s, and mutates at full length from the start). Inputs are up to 64 KiB. Each budget keeps the inputs it
# finds in <build-dir>/corpus-<tree-budget>, so that a slow run does not spend
# its time re-running what a fast one found.
# Exits non-zero on a crash, a sanitizer report, a leak or a hang; the
# offending input is left in <build-dir>/artifacts-<tree-budget>/.
set -euo pipefail

seconds=${1:-60}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$repo/build-fuzz}
budget=${3:-10000}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac
per_input_timeout=15
length_control=()
if [ "$budget" -gt 10000 ]; then
  per_input_timeout=60
  # Long inputs from the start rather than grown slowly from the seeds.
  length_control=(-len_control=0)
fi

echo "== fuzz: configuring $build (clang, sanitizers, tests off)"
cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DKAVREL_FUZZ=ON \
  -DKAVREL_TESTS=OFF -DKAVREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "== fuzz: building kavrel_fuzz"
cmake --build "$build" -j2 --target kavrel_fuzz

# New inputs go to a scratch directory so that the seed corpus stays as committed.
work=$build/corpus-$budget
artifacts=$build/artifacts-$budget
mkdir -p "$work" "$artifacts"
rm -f "$artifacts"/*

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# The words of the netlist language, so that mutations produce entries.
dict=$build/kavrel.dict
: >"$dict"
for word in r l c g y z gm gy rm o u b m x X f F p P n N n1 n2 t T v V e end h \
    g11 g12 g21 g22 h11 h12 h21 h22 y11 y12 y21 y22 z11 z12 z21 z22 \
    A B C D a b c d s11 s12 s21 s22 f11 f12 f21 f22 A21 a12 S21 F11 \
    '{' '}' ' ' ';' ',' 1e3 -1.5e-3 999 1000 4096 65 512 256; do
  printf '"%s"\n' "$word" >>"$dict"
done

log=$build/fuzz-$budget.log
echo "== fuzz: running for ${seconds}s on fuzz/corpus, tree budget $budget" \
  "(timeout ${per_input_timeout}s per input, log $log)"
status=0
KAVREL_FUZZ_TREE_BUDGET=$budget "$build/kavrel_fuzz" "$work" "$repo/fuzz/corpus" -dict="$dict" \
  -max_total_time="$seconds" -timeout="$per_input_timeout" -max_len=65536 "${length_control[@]}" -rss_limit_mb=4096 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?

if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
  tail -n 150 "$log"
  echo "== fuzz: FAILED (exit status $status); inputs kept in $artifacts:"
  ls -l "$artifacts"
  exit 1
fi
grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))|^Done |^stat::' "$log" || tail -n 20 "$log"
echo "== fuzz: no crash, sanitizer report or hang in ${seconds}s (tree budget $budget)"
