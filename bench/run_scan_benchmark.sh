#!/usr/bin/env bash
# Times whole runs of both programs with the literal and the fast kernel on
# one simulated data set, and checks that the kernels write the same result
# files and console output.
# Usage: bench/run_scan_benchmark.sh BUILD_DIR [FAMILIES] [STRUCTURE] [MARKERS] [PROGRAMS] [KERNELS] [POLYGENIC]
#   FAMILIES   simulated families (default 60)
#   STRUCTURE  a structure of bravik_sim (default threegen, grandparents untyped)
#   MARKERS    markers of the scan (default 20)
#   PROGRAMS   programs to time (default "bravik_2point bravik_2point_max")
#   KERNELS    kernels to time (default "reference fast"); the outputs are
#              compared when both run
#   POLYGENIC  on (default) or off: off fixes the polygenic step at 0, so the
#              programs take one class
# BRAVIK_THREADS, when set, is passed on to the fast kernel.
set -euo pipefail

build=$(cd "${1:?build folder}" && pwd)
families=${2:-60}
structure=${3:-threegen}
markers=${4:-20}
programs=${5:-"bravik_2point bravik_2point_max"}
kernels=${6:-"reference fast"}
polygenic=${7:-on}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

linked=$((markers / 2))
"$build/bravik_sim" --seed 11 --families "$families" --structure "$structure" --untyped-grandparents \
  --theta "0.05*$linked,0.5*$((markers - linked))" "$work/data.ped"
"$build/bravik_prep" --root random --seed 5 "$work/data.ped" "$work/input"
case $polygenic in
  on) ;;
  off) sed -i 's/^ 7 1 [^ ]* / 7 0 0 /' "$work/input/par.inp" ;;
  *) echo "POLYGENIC must be on or off, not '$polygenic'" >&2; exit 2 ;;
esac

for program in $programs; do
  for kernel in $kernels; do
    run="$work/$program-$kernel"
    cp -r "$work/input" "$run"
    start=$(date +%s.%N)
    (cd "$run" && BRAVIK_KERNEL=$kernel "$build/$program" < /dev/null > console.txt 2> errors.txt)
    end=$(date +%s.%N)
    seconds=$(echo "$end - $start" | bc)
    printf '%-18s %-9s kernel, polygenic %-3s: %10.2f s, %.3f s per marker\n' "$program" "$kernel" "$polygenic" \
      "$seconds" "$(echo "$seconds / $markers" | bc -l)"
  done
  if [ ! -d "$work/$program-reference" ] || [ ! -d "$work/$program-fast" ]; then continue; fi
  if diff -r "$work/$program-reference" "$work/$program-fast" > /dev/null; then
    echo "$program: identical result files and console output"
  else
    echo "$program: the kernels' outputs differ" >&2
    diff -r "$work/$program-reference" "$work/$program-fast" >&2 || true
    exit 1
  fi
done
