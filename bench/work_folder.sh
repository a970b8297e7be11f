# Sourced by the benchmark scripts: `use_work_folder DIR` enters DIR, or a
# temporary folder removed at the end when DIR is empty; `print_machine`
# names the processor, its cores and vector extensions.
use_work_folder() {
  work=$1
  if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
  fi
  mkdir -p "$work"
  cd "$work"
}

print_machine() {
  echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(nproc) cores;" \
    "vector extensions: $(grep -m1 '^flags' /proc/cpuinfo | tr ' ' '\n' | grep -E '^(avx|avx2|avx512f|avx512bw|avx512vl|fma)$' | tr '\n' ' ')"
}
