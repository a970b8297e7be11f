#!/usr/bin/env bash
# Pointwise check of the replicate scans under no linkage: the LOD scores of
# one marker over N replicates of `bravik_scan simulate` (genotypes dropped
# through the pedigrees of one simulated data set, its trait kept) against
# the LOD scores of the same marker in N data sets simulated independently by
# bravik_sim with the marker at theta 0.5 (pedigrees, traits and genotypes all
# new). Both are scanned in the same mode with the same par.inp. Printed: the
# share of each above the quartiles and the 90% and 95% points of the pooled
# LODs, the difference in standard errors of a difference of two shares, and
# the two-sample Kolmogorov-Smirnov distance against its 5% critical value
# 1.36 sqrt(2 / N). Under a correct generator the differences stay within
# about 2 standard errors and the distance below the critical value.
# Usage: bench/pointwise_null_check.sh BUILD_DIR [N] [MODE] [FAMILIES] [WORK_DIR]
#   N         replicates and independent data sets (default 200)
#   MODE      classic, robust or fixed (default classic)
#   FAMILIES  three-generation families of every data set (default 20)
set -euo pipefail

build=$(cd "${1:?build folder}" && pwd)
n=${2:-200}
mode=${3:-classic}
families=${4:-20}
source "$(dirname "$0")/work_folder.sh"
use_work_folder "${5:-}"
mode_option=$([ "$mode" = robust ] && echo "" || echo "--$mode")
program=$([ "$mode" = fixed ] && echo bravik_2point || echo bravik_2point_max)
program_option=$([ "$mode" = robust ] && echo --robust || echo "")
simulate() { "$build/bravik_sim" --seed "$1" --families "$families" --structure threegen --theta 0.5 \
  --polygenic-step 0 --untyped 0.1 --trait-missing 0.1 "$2" > /dev/null 2>&1; }

# The replicates of one data set.
simulate 1 data.ped
echo "1 m1 0 1000000" > data.map
"$build/bravik_scan" prepare --pedigree data.ped --map data.map template > /dev/null
sed 's/^ 7 1 .*/ 7 0 0 0.01 -1 1/' template/input/par.inp > par.inp
"$build/bravik_scan" prepare --pedigree data.ped --map data.map --par par.inp scan > /dev/null
"$build/bravik_scan" simulate scan --replicates "$n" --seed 3 $mode_option > /dev/null
"$build/bravik_scan" run scan > /dev/null
"$build/bravik_scan" merge scan > /dev/null
awk -F'\t' 'NR > 1 && $2 != "NA" { print $2 }' scan/simulation.tsv > replicates.txt

# Independent data sets.
: > independent.txt
for ((k = 1; k <= n; ++k)); do
  simulate $((1000 + k)) "set$k.ped"
  "$build/bravik_prep" "set$k.ped" "set$k" > /dev/null 2>&1
  cp par.inp "set$k/"
  (cd "set$k" && "$build/$program" $program_option > /dev/null 2>&1)
  awk 'NF == 4 { print $4 }' "set$k/lod.out" >> independent.txt
  rm -rf "set$k" "set$k.ped"
done

sort -g replicates.txt independent.txt > pooled.txt
awk -v mode="$mode" '
  FNR == 1 { file++ }
  { v = $1 + 0; if (file == 1) r[++nr] = v; else if (file == 2) s[++ns] = v; else all[++na] = v }
  function share(a, m, t,   i, c) { c = 0; for (i = 1; i <= m; ++i) c += a[i] > t; return c / m }
  END {
    printf "%s mode: %d replicates, %d independent data sets\n", mode, nr, ns
    printf "%-30s %10s %10s %8s\n", "LOD above", "replicates", "data sets", "diff/se"
    split("0.25 0.5 0.75 0.9 0.95", q, " ")
    for (j = 1; j <= 5; ++j) {
      t = all[int(q[j] * na)]
      a = share(r, nr, t); b = share(s, ns, t); p = (a * nr + b * ns) / (nr + ns)
      se = sqrt(p * (1 - p) * (1 / nr + 1 / ns))
      printf "%-30s %10.3f %10.3f %8.2f\n", sprintf("%.4f (pooled %g point)", t, q[j]), a, b, (se > 0 ? (a - b) / se : 0)
    }
    d = 0
    for (i = 1; i <= na; ++i) { e = share(r, nr, all[i]) - share(s, ns, all[i]); if (e < 0) e = -e; if (e > d) d = e }
    printf "Kolmogorov-Smirnov distance %.3f, 5%% critical value %.3f\n", d, 1.36 * sqrt(1 / nr + 1 / ns)
  }' replicates.txt independent.txt pooled.txt
