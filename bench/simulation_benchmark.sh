#!/usr/bin/env bash
# Figures of the replicate scans of `bravik_scan simulate` (printed, never
# asserted): on a simulated data set, the processor seconds of the data's scan
# and of one replicate scan (the replicates share the null hypothesis' trait
# part, maximized once by `simulate`), the cost of that shared step, and the
# replicates per hour on all cores of this machine (one replicate chunk per
# core, each program on one thread).
# Usage: bench/simulation_benchmark.sh BUILD_DIR [FAMILIES] [MARKERS] [REPLICATES] [MODE] [POLYGENIC] [WORK_DIR]
#   FAMILIES    three-generation families (default 40)
#   MARKERS     markers on two chromosomes, one linked to the gene (default 20)
#   REPLICATES  replicates timed (default 10)
#   MODE        robust, classic or fixed (default robust)
#   POLYGENIC   on or off: the polygenic component in the data and the model (default off)
#   WORK_DIR    where the data go (default a temporary folder, removed at the end)
set -euo pipefail

build=$(cd "${1:?build folder}" && pwd)
families=${2:-40}
markers=${3:-20}
replicates=${4:-10}
mode=${5:-robust}
polygenic=${6:-off}
source "$(dirname "$0")/work_folder.sh"
use_work_folder "${7:-}"
scan="$build/bravik_scan"
# One thread per program: processor seconds then compare without idle threads' share.
export BRAVIK_THREADS=1
mode_option=$([ "$mode" = robust ] && echo "" || echo "--$mode")

print_machine

half=$((markers / 2))
step=$([ "$polygenic" = on ] && echo 0.15 || echo 0)
"$build/bravik_sim" --seed 21 --families "$families" --structure threegen --theta "0.5*$((half / 2)),0,0.5*$((markers - half / 2 - 1))" \
  --polygenic-step "$step" --untyped 0.1 --trait-missing 0.1 data.ped > /dev/null
awk -v n="$markers" -v h="$half" 'BEGIN { for (m = 1; m <= n; ++m) { c = m <= h ? 1 : 2; i = (m - 1) % h; print c, "m" m, 5 * i, 1000000 + 5000000 * i } }' > data.map
"$scan" prepare --pedigree data.ped --map data.map template > /dev/null
if [ "$polygenic" = on ]; then cp template/input/par.inp par.inp; else sed 's/^ 7 1 .*/ 7 0 0 0.01 -1 1/' template/input/par.inp > par.inp; fi
"$scan" prepare --pedigree data.ped --map data.map --par par.inp scan > /dev/null
persons=$(awk 'NF' data.ped | wc -l)
echo "design: $families three-generation families ($persons persons), $markers markers in one chunk, $mode mode," \
  "polygenic component $polygenic"

# Processor seconds of the analysis programs of tasks first..last (timing.txt).
program_cpu() { for ((t = $1; t <= $2; ++t)); do cat "scan/chunks/$t/timing.txt"; done |
  awk '$1 == "program_cpu_seconds" { s += $2 } END { printf "%.2f", s }'; }

start=$(date +%s.%N)
"$scan" simulate scan --replicates "$replicates" --seed 1 $mode_option > /dev/null
shared=$(echo "$(date +%s.%N) - $start" | bc)
"$scan" task scan 1 $mode_option > /dev/null
data=$(program_cpu 1 1)
start=$(date +%s.%N)
"$scan" run scan > /dev/null
elapsed=$(echo "$(date +%s.%N) - $start" | bc)
replicate=$(echo "scale=3; $(program_cpu 2 $((replicates + 1))) / $replicates" | bc)
printf 'simulate (the shared trait part of the null, once): %.2f s elapsed\n' "$shared"
printf 'data scan: %s processor s; one replicate scan: %s processor s (%.2f of the data scan)\n' \
  "$data" "$replicate" "$(echo "scale=4; $replicate / $data" | bc)"
printf '%d replicates on %d cores: %.1f s elapsed, %.0f replicates per hour\n' "$replicates" "$(nproc)" "$elapsed" \
  "$(echo "scale=4; 3600 * $replicates / $elapsed" | bc)"
"$scan" merge scan | tail -n +2
