#!/bin/bash
# Builds the libFuzzer target with clang and runs it on the seed corpus.
# usage: fuzz/run_fuzz.sh [seconds=60] [build-dir=build-fuzz]
# Exits non-zero on a crash, a sanitizer report, a leak or a hang; the
# offending input is left in <build-dir>/artifacts/.
set -euo pipefail

seconds=${1:-60}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${2:-$repo/build-fuzz}
case "$build" in /*) ;; *) build=$PWD/$build ;; esac

echo "== fuzz: configuring $build (clang, sanitizers, tests off)"
cmake -S "$repo" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DKAVREL_FUZZ=ON \
  -DKAVREL_TESTS=OFF -DKAVREL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
echo "== fuzz: building kavrel_fuzz"
cmake --build "$build" -j2 --target kavrel_fuzz

# New inputs go to a scratch directory so that the seed corpus stays as committed.
work=$build/corpus
artifacts=$build/artifacts
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

log=$build/fuzz.log
echo "== fuzz: running for ${seconds}s on fuzz/corpus (timeout 15s per input, log $log)"
status=0
"$build/kavrel_fuzz" "$work" "$repo/fuzz/corpus" -dict="$dict" \
  -max_total_time="$seconds" -timeout=15 -max_len=4096 -rss_limit_mb=4096 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1 || status=$?

if [ "$status" -ne 0 ] || [ -n "$(ls -A "$artifacts")" ]; then
  tail -n 150 "$log"
  echo "== fuzz: FAILED (exit status $status); inputs kept in $artifacts:"
  ls -l "$artifacts"
  exit 1
fi
grep -E '^(INFO: seed corpus|#[0-9]+[[:space:]]+(INITED|DONE))|^Done |^stat::' "$log" || tail -n 20 "$log"
echo "== fuzz: no crash, sanitizer report or hang in ${seconds}s"
