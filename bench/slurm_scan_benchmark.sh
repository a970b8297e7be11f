#!/usr/bin/env bash
# Times one simulated scan two ways on this machine, `bravik_scan run --jobs 2`
# and `bravik_scan slurm --submit` on a SLURM cluster (submission to the end of
# the merge job), checks that both give the same results.tsv, and projects
# from the markers per core-minute what a 100,000-marker scan of data like
# these needs on a cluster.
# Usage: bench/slurm_scan_benchmark.sh BUILD_DIR [FAMILIES] [MARKERS] [CHUNK_SIZE] [MODE]
#   FAMILIES    simulated families (default 20)
#   MARKERS     markers of the scan (default 12)
#   CHUNK_SIZE  markers per chunk (default 3)
#   MODE        "" (default: robust), --classic or --fixed
# Uses the cluster of SLURM_CONF; without it, starts one with scripts/test-cluster
# (as root) and stops it at the end.
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
families=${2:-20}
markers=${3:-12}
chunk_size=${4:-3}
mode=${5:-}
scan="$build/bravik_scan"

work=$(mktemp -d)
cluster=""
cleanup() {
  [[ -n "$cluster" ]] && "$here/scripts/test-cluster" stop "$work/record" >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
if [[ -z "${SLURM_CONF:-}" ]]; then
  "$here/scripts/test-cluster" start "$work/record" >/dev/null
  cluster=started
  export SLURM_CONF=$work/record/cluster/slurm.conf
fi

seconds_since() { echo "$(date +%s.%N) - $1" | bc; }

"$build/bravik_sim" --seed 7 --families "$families" --theta "0*$((markers / 4)),0.5*$((markers - markers / 4))" \
  "$work/data.ped" 2>/dev/null
for folder in local cluster; do
  "$scan" prepare --pedigree "$work/data.ped" --chunk-size "$chunk_size" "$work/$folder" >/dev/null
done
persons=$(awk '$1 == "persons" {print $2}' "$work/local/plan.txt")
chunks=$(awk '$1 == "chunks" {print $2}' "$work/local/plan.txt")

start=$(date +%s.%N)
"$scan" run "$work/local" --jobs 2 $mode >/dev/null
"$scan" merge "$work/local" >/dev/null
local_seconds=$(seconds_since "$start")

start=$(date +%s.%N)
submitted=$("$scan" slurm "$work/cluster" --submit $mode)
merge_job=$(sed -n 's/^merge job \([0-9]*\):.*/\1/p' <<<"$submitted")
while [[ -n "$(squeue -h -j "$merge_job" 2>/dev/null)" ]]; do sleep 0.2; done
cluster_seconds=$(seconds_since "$start")

cmp -s "$work/local/results.tsv" "$work/cluster/results.tsv" && same=yes || same=NO
cores=$(nproc)
per_core_minute=$(echo "$markers / ($local_seconds * $cores / 60)" | bc -l)
printf 'data: %s persons in %s families, %s markers, %s chunks of %s, mode %s\n' "$persons" "$families" \
  "$markers" "$chunks" "$chunk_size" "${mode:-robust}"
printf 'processor: %s, %s cores, vector extensions: %s\n' "$(sed -n 's/^model name\t*: //p' /proc/cpuinfo | head -1)" \
  "$cores" "$(grep -m1 -o -w -E 'sse4_2|avx|avx2|avx512f|avx512bw|avx512vl' /proc/cpuinfo | tr '\n' ' ')"
printf 'bravik_scan run --jobs 2:       %8.1f s wall, %7.1f markers/min\n' "$local_seconds" \
  "$(echo "$markers * 60 / $local_seconds" | bc -l)"
printf 'bravik_scan slurm --submit:     %8.1f s wall, %7.1f markers/min (submission to end of merge)\n' \
  "$cluster_seconds" "$(echo "$markers * 60 / $cluster_seconds" | bc -l)"
printf 'same results.tsv: %s\n' "$same"
printf '100,000 markers of such data: %d tasks of 500 markers, %.1f core-hours (%.1f markers per core-minute)\n' \
  $(((100000 + 499) / 500)) "$(echo "100000 / $per_core_minute / 60" | bc -l)" "$per_core_minute"
[[ $same == yes ]]
