#!/usr/bin/env bash
# Times whole runs of both programs with the literal and the fast kernel on
# one simulated data set, and checks that both kernels write the same result
# files and console output.
# Usage: bench/run_scan_benchmark.sh BUILD_DIR [FAMILIES] [STRUCTURE] [MARKERS] [PROGRAMS]
#   FAMILIES   simulated families (default 60)
#   STRUCTURE  a structure of bravik_sim (default threegen, grandparents untyped)
#   MARKERS    markers of the scan (default 20)
#   PROGRAMS   programs to time (default "bravik_2point bravik_2point_max")
set -euo pipefail

build=$(cd "${1:?build folder}" && pwd)
families=${2:-60}
structure=${3:-threegen}
markers=${4:-20}
programs=${5:-"bravik_2point bravik_2point_max"}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

linked=$((markers / 2))
"$build/bravik_sim" --seed 11 --families "$families" --structure "$structure" --untyped-grandparents \
  --theta "0.05*$linked,0.5*$((markers - linked))" "$work/data.ped"
"$build/bravik_prep" --root random --seed 5 "$work/data.ped" "$work/input"

for program in $programs; do
  for kernel in reference fast; do
    run="$work/$program-$kernel"
    cp -r "$work/input" "$run"
    start=$(date +%s.%N)
    (cd "$run" && BRAVIK_KERNEL=$kernel "$build/$program" < /dev/null > console.txt 2> errors.txt)
    end=$(date +%s.%N)
    printf '%-18s %-9s kernel: %10.2f s\n' "$program" "$kernel" "$(echo "$end - $start" | bc)"
  done
  if diff -r "$work/$program-reference" "$work/$program-fast" > /dev/null; then
    echo "$program: identical result files and console output"
  else
    echo "$program: the kernels' outputs differ" >&2
    diff -r "$work/$program-reference" "$work/$program-fast" >&2 || true
    exit 1
  fi
done
