#!/usr/bin/env bash
# Figures of bravik_scan (printed, never asserted):
#  1. prepare of about 25,000 persons x MARKERS markers from a .bed: time, peak
#     memory, disk used;
#  2. the set-up of one 500-marker chunk for those persons (from the chunk's
#     timing.txt, running bravik_2point without the polygenic component);
#  3. the driver's own share of the time of a 200-chunk scan of one-marker chunks;
#  4. markers per minute of a maximizing scan with --jobs 1 and --jobs 2.
# The .bed is written by plink1.9 from a simulated pedigree file of 500
# markers; its marker blocks are repeated to reach MARKERS (every copy
# follows Mendel's laws, as the chunks' check requires).
# Usage: bench/scan_driver_benchmark.sh BUILD_DIR [MARKERS] [WORK_DIR]
#   MARKERS   markers of the large .bed, a multiple of 500 (default 100000)
#   WORK_DIR  where the data go (default a temporary folder, removed at the end)
set -euo pipefail

build=$(cd "${1:?build folder}" && pwd)
markers=${2:-100000}
work=${3:-}
if [ -z "$work" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
cd "$work"
scan="$build/bravik_scan"
(( markers % 500 == 0 )) || { echo "MARKERS must be a multiple of 500" >&2; exit 2; }

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores;" \
  "vector extensions: $(grep -m1 '^flags' /proc/cpuinfo | tr ' ' '\n' | grep -E '^(avx|avx2|avx512f|avx512bw|avx512vl|fma)$' | tr '\n' ' ')"

# Elapsed and processor seconds and peak resident memory (MB) of a command,
# from /usr/bin/time (elapsed time grows when other work shares the cores).
measure() {
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" > /dev/null
  read -r seconds user system kilobytes < time.txt
  echo "$seconds s elapsed ($user s user, $system s system), peak memory $((kilobytes / 1024)) MB"
}

# Sum of one field of the chunks' timing.txt.
chunk_seconds() { cat "$1"/chunks/*/timing.txt | awk -v key="$2" '$1 == key { s += $2 } END { printf "%.2f", s }'; }

# 1. A .bed of about 25,000 persons.
"$build/bravik_sim" --seed 2 --families 602 --structure fourgen --untyped 0.02 --trait-missing 0.05 \
  --theta "0.5*500" big.ped > /dev/null
awk '{ if ($6 == "x") $6 = -9; print }' big.ped > plink.ped
awk 'BEGIN { for (m = 1; m <= 500; ++m) print 1, "rs" m, 0, m }' > plink.map
awk '{ print $2, 1 }' plink.map > a1.txt
plink1.9 --file plink --keep-allele-order --a1-allele a1.txt 2 1 --make-bed --out block > /dev/null
persons=$(wc -l < block.fam)
{ head -c 3 block.bed; for ((copy = 0; copy < markers / 500; ++copy)); do tail -c +4 block.bed; done; } > big.bed
awk -v n="$markers" 'BEGIN { per = n / 20; for (m = 1; m <= n; ++m) print int((m - 1) / per) + 1, "rs" m, 0, 1000 * ((m - 1) % per + 1), 1, 2 }' > big.bim
cp block.fam big.fam
echo "data: $persons persons, $markers markers, .bed of $(du -m big.bed | cut -f1) MB"

rm -rf large
echo "prepare from .bed: $(measure "$scan" prepare --bfile big large)," \
  "scan folder $(du -sm large | cut -f1) MB (genotypes.bin $(du -m large/genotypes.bin | cut -f1) MB)"

# 2. One 500-marker chunk of those persons.
sed -i 's/^ 7 1 [^ ]* / 7 0 0 /' large/input/par.inp
BRAVIK_THREADS=$(nproc) "$scan" task --fixed large 1
echo "chunk of 500 markers x $persons persons: set-up $(chunk_seconds large setup_seconds) s" \
  "(compact copy to marker file with the Mendel check), bravik_2point $(chunk_seconds large program_seconds) s," \
  "(its marker file: $((persons * 1000 / 1048576)) MB of text)"

# 3. 200 one-marker chunks of a small study.
"$build/bravik_sim" --seed 3 --families 9 --structure threegen --theta "0.5*200" small.ped > /dev/null
rm -rf small
"$scan" prepare --pedigree small.ped --chunk-size 1 small > /dev/null
sed -i 's/^ 7 1 [^ ]* / 7 0 0 /' small/input/par.inp
BRAVIK_THREADS=1 /usr/bin/time -f '%e %U %S' -o time.txt "$scan" run --fixed --jobs 1 small > /dev/null
read -r wall user system < time.txt
program=$(chunk_seconds small program_seconds)
program_cpu=$(chunk_seconds small program_cpu_seconds)
setup=$(chunk_seconds small setup_seconds)
echo "200 one-marker chunks, --jobs 1: $wall s elapsed, of which programs $program s and chunk set-ups $setup s;" \
  "driver and tasks' share of the elapsed time $(awk -v w="$wall" -v p="$program" 'BEGIN { printf "%.1f", 100 * (w - p) / w }') %," \
  "of the processor time $(awk -v u="$user" -v s="$system" -v p="$program_cpu" 'BEGIN { printf "%.1f", 100 * (u + s - p) / (u + s) }') %" \
  "($(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }') s in all, programs $program_cpu s)"

# 4. Markers per minute of a maximizing scan (classic mode, polygenic component on).
"$build/bravik_sim" --seed 4 --families 40 --structure threegen --theta "0.05*10,0.5*30" study.ped > /dev/null
for jobs in 1 2; do
  rm -rf "study$jobs"
  "$scan" prepare --pedigree study.ped --chunk-size 10 "study$jobs" > /dev/null
  start=$(date +%s.%N)
  "$scan" run --classic --jobs "$jobs" "study$jobs" > /dev/null
  wall=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  echo "maximizing scan of 40 markers, $(grep -m1 '^persons' "study$jobs/summary.txt" | cut -d' ' -f2) persons, --jobs $jobs:" \
    "$wall s, $(awk -v w="$wall" 'BEGIN { printf "%.1f", 40 * 60 / w }') markers/min"
done
cmp study1/chunks/4/lod.out study2/chunks/4/lod.out && echo "the two runs' results are identical"
