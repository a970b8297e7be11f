#!/usr/bin/env bash
# Validation of the robust mode's standard errors and carrier probabilities on
# simulated replicates of one design with known truth (not part of the tests:
# it takes minutes per replicate with the polygenic component).
#
# Usage: bench/validate_estimates.sh BUILD_DIR [REPLICATES [JOBS [WORK_DIR]]]
#   REPLICATES  simulated data sets (default 200), seeds 1..REPLICATES
#   JOBS        replicates run at once, each on one thread (default 2)
#   WORK_DIR    where the replicates are kept (default a temporary folder, removed)
#
# Design: 40 three-generation families, one marker at theta 0.05, the major
# gene of bravik_sim's defaults (allele 1 frequency 0.3, means 2, 1, 0,
# residual variance 0.5) and its polygenic component (step 0.15); theta
# estimated within [0, 0.5]. Each replicate runs
#   bravik_2point_max --robust --standard-errors se.tsv --posteriors post.tsv
# Prints, for each parameter of the alternative, the mean estimate, the
# standard deviation of the estimates across replicates, the mean reported
# standard error (over the replicates that report one), their ratio and the
# coverage of estimate +- 1.96 SE; then the calibration of the most probable
# major-gene genotype at the null maximum against the true one, by bins of
# its probability.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [REPLICATES [JOBS [WORK_DIR]]]}" && pwd)
replicates=${2:-200}
jobs=${3:-2}
work=${4:-}
if [[ -z $work ]]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

run_replicate() {
  local seed=$1 dir="$work/r$1"
  [[ -s $dir/run/se.tsv && -s $dir/run/post.tsv ]] && return 0
  rm -rf "$dir" && mkdir -p "$dir"
  (
    cd "$dir"
    "$build/bravik_sim" --seed "$seed" --families 40 --structure threegen --theta 0.05 --truth truth.tsv sim.ped 2>/dev/null
    "$build/bravik_prep" sim.ped run >/dev/null
    cd run
    # theta estimated within [0, 0.5]
    awk 'NR == 6 { $0 = " 5 1 0.1 0.05 0 0.5" } { print }' par.inp >par.tmp && mv par.tmp par.inp
    BRAVIK_THREADS=1 "$build/bravik_2point_max" --robust --standard-errors se.tsv --posteriors post.tsv \
      >stdout.txt 2>stderr.txt
  )
}
export -f run_replicate
export build work

seq 1 "$replicates" | xargs -P "$jobs" -I{} bash -c 'run_replicate {}'

# One line per replicate: the alternative's estimates (q m11 m12 m22 var step theta), then their SEs.
for r in $(seq 1 "$replicates"); do
  dir="$work/r$r/run"
  [[ -s $dir/se.tsv ]] || continue
  estimates=$(awk 'NR == 2 { print substr($0, 5, 13), substr($0, 18, 13), substr($0, 31, 13), substr($0, 44, 13),
                                   substr($0, 57, 13), substr($0, 70, 13) }' "$dir/est.out")
  theta=$(awk '/ALTERNATIVE/ { alt = 1 } alt && $1 == 5 && NF == 3 { print $2; exit }' "$dir/sigma.DAT")
  errors=$(awk -F'\t' 'NR == 2 { print $9, $10, $11, $12, $13, $14, $15 }' "$dir/se.tsv")
  echo "$estimates $theta $errors"
done >"$work/estimates.txt"

echo "processor: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); replicates with results: $(wc -l <"$work/estimates.txt") of $replicates"
awk '
  BEGIN {
    split("gene_freq mean11 mean12 mean22 variance polygenic_step theta", name, " ")
    split("0.3 2 1 0 0.5 0.15 0.05", truth, " ")
    printf "%-15s %6s %10s %10s %10s %10s %8s %9s\n", "parameter", "truth", "mean", "sd", "mean_se", "se/sd", "n_se", "coverage"
  }
  {
    for (i = 1; i <= 7; i++) {
      e = $i + 0; se = $(i + 7)
      n[i]++; sum[i] += e; sq[i] += e * e
      if (se != "NA") {
        ns[i]++; sumse[i] += se
        if (e - 1.96 * se <= truth[i] && truth[i] <= e + 1.96 * se) covered[i]++
      }
    }
  }
  END {
    for (i = 1; i <= 7; i++) {
      mean = sum[i] / n[i]; sd = sqrt((sq[i] - n[i] * mean * mean) / (n[i] - 1))
      mse = ns[i] ? sumse[i] / ns[i] : 0
      printf "%-15s %6s %10.4f %10.4f %10.4f %10.3f %8d %8.1f%%\n", name[i], truth[i], mean, sd, mse,
             sd > 0 ? mse / sd : 0, ns[i], ns[i] ? 100 * covered[i] / ns[i] : 0
    }
  }' "$work/estimates.txt"

# Calibration: each person's most probable genotype at the null maximum against the truth.
for r in $(seq 1 "$replicates"); do
  dir="$work/r$r"
  [[ -s $dir/run/post.tsv ]] || continue
  awk -F'\t' 'FNR == 1 { next }
    FILENAME ~ /truth/ { truth[$1 " " $2] = $3; next }
    { best = $3; call = 11; if ($4 > best) { best = $4; call = 12 } if ($5 > best) { best = $5; call = 22 }
      print best, (call == truth[$1 " " $2]) ? 1 : 0 }' "$dir/truth.tsv" "$dir/run/post.tsv"
done | awk '
  BEGIN { split("0.3333 0.5 0.7 0.9 0.99 1.0000001", edge, " ") }
  {
    for (b = 1; b < 6; b++) if ($1 < edge[b + 1]) break
    n[b]++; p[b] += $1; right[b] += $2; total++; total_right += $2; total_p += $1
  }
  END {
    printf "\ncarrier calibration: %d persons, most probable genotype right %.1f%% (expected from the probabilities %.1f%%)\n",
           total, 100 * total_right / total, 100 * total_p / total
    printf "%-17s %8s %14s %12s\n", "probability bin", "persons", "mean_predicted", "observed"
    for (b = 1; b < 6; b++) if (n[b])
      printf "[%.2f, %.2f)     %8d %14.3f %12.3f\n", edge[b], edge[b + 1] > 1 ? 1 : edge[b + 1], n[b], p[b] / n[b], right[b] / n[b]
  }'
