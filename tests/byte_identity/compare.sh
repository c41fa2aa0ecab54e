#!/bin/bash
# Runs thousands of random netlists through a reference kavrel and the current
# build and compares the whole outputs byte for byte (the number on the
# elapsed-time line masked). Meant for refactorings that must not change
# behaviour.
#
#   tests/byte_identity/compare.sh [options]
#     --reference-commit C  build the reference kavrel from commit C (default: main)
#     --reference BIN       use BIN as the reference instead
#     --build DIR           test build holding kavrel and kavrel_random_netlists (default: build)
#     --count N             input files to compare (default: 3000)
#     --seed S              generator seed (default: 1)
#     --keep DIR            keep inputs and differing outputs in DIR
set -euo pipefail
cd "$(dirname "$0")/../.."

reference_commit=main
reference=
build=build
count=3000
seed=1
keep=
while [ $# -gt 0 ]; do
  case "$1" in
    --reference-commit) reference_commit=$2; shift 2 ;;
    --reference) reference=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --count) count=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "compare.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

candidate=$build/kavrel
generator=$build/kavrel_random_netlists
for tool in "$candidate" "$generator"; do
  [ -x "$tool" ] || { echo "compare.sh: $tool missing; build the tests first" >&2; exit 2; }
done

if [ -z "$reference" ]; then
  commit=$(git rev-parse --verify "$reference_commit^{commit}")
  cache=${TMPDIR:-/tmp}/kavrel-reference-$commit
  reference=$cache/build/kavrel
  if [ ! -x "$reference" ]; then
    echo "building the reference kavrel of ${commit:0:12} in $cache"
    rm -rf "$cache"
    mkdir -p "$cache/source"
    git archive "$commit" | tar -x -C "$cache/source"
    cmake -S "$cache/source" -B "$cache/build" -DKAVREL_TESTS=OFF -DKAVREL_BENCH=OFF >/dev/null
    cmake --build "$cache/build" -j2 --target kavrel >/dev/null
  fi
fi

work=${keep:-$(mktemp -d)}
mkdir -p "$work/inputs"
[ -n "$keep" ] || trap 'rm -rf "$work"' EXIT
"$generator" "$seed" "$count" "$work/inputs"

export reference candidate work
# One input: both outputs, elapsed time and heap addresses (debug lines)
# masked; a run that takes longer than
# the limit counts as the text TIMEOUT, a crash keeps its exit status.
compare_one() {
  local input=$1 name
  name=$(basename "$input" .net)
  run() {
    local status=0
    timeout 60 "$1" <"$input" >"$2" 2>&1 || status=$?
    sed -i -e 's/^{elapsed time: -\{0,1\}[0-9]*\/1000 sec\.}$/{elapsed time: #\/1000 sec.}/' \
        -e 's/0x[0-9a-f]\{4,\}/0x#/g' "$2"
    [ $status -eq 124 ] && echo TIMEOUT >>"$2"
    [ $status -ne 0 ] && echo "exit status $status" >>"$2"
    return 0
  }
  run "$reference" "$work/$name.reference"
  run "$candidate" "$work/$name.candidate"
  if cmp -s "$work/$name.reference" "$work/$name.candidate"; then
    rm -f "$work/$name.reference" "$work/$name.candidate"
  else
    echo "DIFFERS: $input"
  fi
}
export -f compare_one
find "$work/inputs" -name '*.net' | sort | xargs -P 2 -I{} bash -c 'compare_one {}' >"$work/differences.txt"

differing=$(wc -l <"$work/differences.txt")
bytes=$(cat "$work/inputs"/*.net | wc -c)
echo "byte identity: $count inputs ($bytes bytes of netlists), $differing differ"
if [ "$differing" -ne 0 ]; then
  head -n 20 "$work/differences.txt"
  [ -n "$keep" ] || echo "(run with --keep DIR to look at the outputs)"
  exit 1
fi
