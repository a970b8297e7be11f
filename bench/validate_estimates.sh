#!/usr/bin/env bash
# Validation of the robust mode's standard errors and carrier probabilities on
# simulated replicates of one design with known truth (not part of the tests:
# it takes minutes per replicate with the polygenic component).
#
# Usage: bench/validate_estimates.sh BUILD_DIR [REPLICATES [JOBS [WORK_DIR [CARRIER_REPLICATES [LINKAGE_REPLICATES]]]]]
#   REPLICATES  simulated data sets (default 200), seeds 1..REPLICATES
#   CARRIER_REPLICATES  data sets of the carrier design (default 50)
#   LINKAGE_REPLICATES  data sets of each LOD-over-theta design (default 50)
#   JOBS        replicates run at once, each on one thread (default 2)
#   WORK_DIR    where the replicates are kept (default a temporary folder, removed)
#
# Standard errors: 40 three-generation families, one marker at theta 0.05, a
# major gene whose genotypes' means lie 2.8 residual standard deviations apart
# (allele 1 frequency 0.3, means 4, 2, 0, residual variance 0.5) and
# bravik_sim's polygenic component (step 0.15); theta
# estimated within [0, 0.5]; bravik_2point_max --robust --standard-errors.
# Prints, for each parameter of the alternative, the mean estimate, the
# standard deviation of the estimates across replicates, the mean reported
# standard error (over the replicates that report one), their ratio and the
# coverage of estimate +- 1.96 SE.
# Carriers: the same families with a strong major gene (means 4, 2, 0);
# bravik_2point_max --robust --posteriors. Prints how often each person's most
# probable genotype at the null maximum is the true one, against the share
# the probabilities themselves expect, by bins of the probability.
# The LOD over theta: 40 families of 8 to 12 children, means 4, 2, 0, no
# polygenic component, markers at theta 0 and 0.5; half of the families
# linked (heterogeneity) or all of them (strong linkage);
# bravik_2point_max --robust --theta-grid 0,0.01,0.05,0.1,0.2,0.3,0.4. Prints
# the linked share alpha of the half-linked marker over replicates, and how
# often the checks of the table hold (hlod and lod_max never below the best
# grid LOD, the support interval around theta_hat, theta_hat below 0.05 and a
# table decreasing in theta under strong linkage).
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [REPLICATES [JOBS [WORK_DIR]]]}" && pwd)
replicates=${2:-200}
jobs=${3:-2}
work=${4:-}
carrier_replicates=${5:-50}
linkage_replicates=${6:-50}
grid=0,0.01,0.05,0.1,0.2,0.3,0.4
if [[ -z $work ]]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"

# run_replicate DESIGN SEED: DESIGN se, carrier, halflinked or linked.
run_replicate() {
  local design=$1 seed=$2 dir="$work/$1$2"
  local simulation=(--structure threegen --theta 0.05 --means 4,2,0) output=(--standard-errors se.tsv) theta_line=" 5 1 0.1 0.05 0 0.5"
  case $design in
    carrier) simulation=(--structure threegen --theta 0.05 --means 4,2,0) output=(--posteriors post.tsv) ;;
    halflinked | linked)
      simulation=(--structure large --theta 0,0.5 --means 4,2,0 --gene-freq 0.4 --polygenic-step 0)
      [[ $design == halflinked ]] && simulation+=(--linked-share 0.5)
      output=(--theta-table theta.tsv --theta-grid "$grid")
      theta_line=""
      ;;
  esac
  [[ -s $dir/run/${output[1]} ]] && return 0
  rm -rf "$dir" && mkdir -p "$dir"
  (
    cd "$dir"
    "$build/bravik_sim" --seed "$seed" --families 40 "${simulation[@]}" --truth truth.tsv sim.ped 2>/dev/null
    "$build/bravik_prep" sim.ped run >/dev/null
    cd run
    # theta estimated within [0, 0.5]; without a polygenic component its step fixed at 0
    if [[ -n $theta_line ]]; then
      awk -v line="$theta_line" 'NR == 6 { $0 = line } { print }' par.inp >par.tmp && mv par.tmp par.inp
    else
      awk 'NR == 8 { $2 = 0; $3 = 0 } { print }' par.inp >par.tmp && mv par.tmp par.inp
    fi
    BRAVIK_THREADS=1 "$build/bravik_2point_max" --robust "${output[@]}" >stdout.txt 2>stderr.txt
  )
}
export -f run_replicate
export build work grid

{
  seq 1 "$linkage_replicates" | sed 's/^/halflinked /'
  seq 1 "$linkage_replicates" | sed 's/^/linked /'
  seq 1 "$carrier_replicates" | sed 's/^/carrier /'
  seq 1 "$replicates" | sed 's/^/se /'
} | xargs -P "$jobs" -L 1 bash -c 'run_replicate "$0" "$1"'

# The LOD over theta: marker 1 of each replicate (theta 0), its table's checks.
for design in halflinked linked; do
  for r in $(seq 1 "$linkage_replicates"); do
    table="$work/$design$r/run/theta.tsv"
    [[ -s $table ]] && awk -F'\t' 'NR == 2' "$table"
  done | awk -F'\t' -v design="$design" '
    {
      best = $2; decreasing = 1
      for (c = 3; c <= 8; c++) { if ($c > best) best = $c; if ($c >= $(c - 1)) decreasing = 0 }
      n++; alpha += $14; alpha_sq += $14 * $14
      hlod_ok += ($13 >= best - 1e-6); max_ok += ($10 >= best); interval_ok += ($11 <= $9 && $9 <= $12)
      small_theta += ($9 < 0.05); decreasing_n += decreasing
      if ($14 < 0.3 || $14 > 0.7) far++
    }
    END {
      if (!n) exit
      mean = alpha / n; sd = n > 1 ? sqrt((alpha_sq - n * mean * mean) / (n - 1)) : 0
      printf "%s, marker at theta 0: %d replicates; alpha mean %.3f sd %.3f (outside [0.3, 0.7]: %d); hlod >= best grid LOD - 1e-6: %d; lod_max >= best grid LOD: %d; theta_lo <= theta_hat <= theta_hi: %d; theta_hat < 0.05: %d; table decreasing in theta: %d\n",
             design, n, mean, sd, far, hlod_ok, max_ok, interval_ok, small_theta, decreasing_n
    }'
done

# One line per replicate: the alternative's estimates (q m11 m12 m22 var step theta), then their SEs.
for r in $(seq 1 "$replicates"); do
  dir="$work/se$r/run"
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
    split("0.3 4 2 0 0.5 0.15 0.05", truth, " ")
    printf "%-15s %6s %10s %10s %10s %10s %8s %9s\n", "parameter", "truth", "mean", "sd", "mean_se", "se/sd", "n_se", "coverage"
  }
  {
    for (i = 1; i <= 7; i++) {
      e = $i + 0; se = $(i + 7)
      if (i == 6 && e < 0) e = -e  # the likelihood does not change with the sign of the step
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
             (sd > 0 ? mse / sd : 0), ns[i], ns[i] ? 100 * covered[i] / ns[i] : 0
    }
  }' "$work/estimates.txt"

# Calibration: each person's most probable genotype at the null maximum against the truth.
for r in $(seq 1 "$carrier_replicates"); do
  dir="$work/carrier$r"
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
    if (!total) exit
    printf "\ncarrier calibration: %d persons, most probable genotype right %.1f%% (expected from the probabilities %.1f%%)\n",
           total, 100 * total_right / total, 100 * total_p / total
    printf "%-17s %8s %14s %12s\n", "probability bin", "persons", "mean_predicted", "observed"
    for (b = 1; b < 6; b++) if (n[b])
      printf "[%.2f, %.2f)     %8d %14.3f %12.3f\n", edge[b], (edge[b + 1] > 1 ? 1 : edge[b + 1]), n[b], p[b] / n[b], right[b] / n[b]
  }'
