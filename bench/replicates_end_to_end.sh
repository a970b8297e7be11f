#!/usr/bin/env bash
# Replicate scans end to end at full size (the CI test runs 12 replicates):
# simulated data with one gene linked to marker 4 of 12 (two chromosomes),
# R replicates in the robust mode run three ways: on all cores; as a SLURM
# array (the cluster of SLURM_CONF, or a test cluster started as root); and
# on all cores killed with SIGKILL once a quarter of the replicate tasks are
# done, then run again. Prints whether the three simulation.tsv, results.tsv
# and summary.txt are identical, p_genome of every marker, the thresholds and
# the times.
# Usage: bench/replicates_end_to_end.sh BUILD_DIR [R] [WORK_DIR]
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
replicates=${2:-200}
source "$here/bench/work_folder.sh"
use_work_folder "${3:-}"
scan="$build/bravik_scan"
print_machine

cluster=""
stop_cluster() { [[ -n "$cluster" ]] && "$here/scripts/test-cluster" stop "$work/record" > /dev/null; rm -rf "${temporary:-}"; }
temporary=$([ -z "${3:-}" ] && echo "$work" || echo "")
trap stop_cluster EXIT
if [[ -z "${SLURM_CONF:-}" ]]; then
  "$here/scripts/test-cluster" start "$work/record" > /dev/null
  cluster=started
  export SLURM_CONF=$work/record/cluster/slurm.conf
fi

"$build/bravik_sim" --seed 3 --families 25 --structure threegen --theta '0.5*3,0,0.5*8' --variance 0.3 \
  --polygenic-step 0 --untyped 0.1 study.ped > /dev/null
for m in $(seq 1 12); do echo "$(( m <= 6 ? 1 : 2 )) m$m $(( (m - 1) % 6 * 10 )) $(( 1000000 + (m - 1) % 6 * 10000000 ))"; done > study.map
"$scan" prepare --pedigree study.ped --map study.map template > /dev/null
sed 's/^ 7 1 .*/ 7 0 0 0.01 -1 1/' template/input/par.inp > fast.inp
"$scan" prepare --pedigree study.ped --map study.map --par fast.inp --chunk-size 5 all_cores > /dev/null
start=$(date +%s.%N)
"$scan" simulate all_cores --replicates "$replicates" --seed 9
echo "simulate: $(echo "$(date +%s.%N) - $start" | bc) s"
cp -r all_cores cluster
cp -r all_cores killed

start=$(date +%s.%N)
"$scan" run all_cores > /dev/null
"$scan" merge all_cores > /dev/null
echo "all cores: $(echo "$(date +%s.%N) - $start" | bc) s"

start=$(date +%s.%N)
submitted=$("$scan" slurm "$work/cluster" --submit -- --time=60)
merge_job=$(sed -n 's/^merge job \([0-9]*\):.*/\1/p' <<< "$submitted")
while [[ -n "$(squeue -h -j "$merge_job" 2> /dev/null)" ]]; do sleep 1; done
echo "SLURM array: $(echo "$(date +%s.%N) - $start" | bc) s ($(head -1 <<< "$submitted"))"

"$scan" run killed > /dev/null 2>&1 &
runner=$!
tasks=$((3 * (replicates + 1)))
while (( $(ls killed/chunks | grep -c '^[0-9]') < tasks / 4 )); do sleep 0.2; done
kill -9 "$runner"
wait "$runner" 2> /dev/null || true
echo "killed with $(ls killed/chunks | grep -c '^[0-9]') of $tasks tasks done"
"$scan" run killed > /dev/null
"$scan" merge killed > /dev/null

for file in simulation.tsv results.tsv summary.txt; do
  for other in cluster killed; do
    cmp -s "all_cores/$file" "$other/$file" && echo "$file: $other identical to all cores" || echo "$file: $other DIFFERS"
  done
done
echo "marker, LOD, p_genome:"
awk -F'\t' 'NR > 1 { print "  " $4, $13, $NF }' all_cores/results.tsv
sed -n '/^genome-wide significance/,$p' all_cores/summary.txt
