#!/usr/bin/env bash
# Times the whole tool's "already exists" run against grep counting the entry
# in the same file, for every bench file (or those named as arguments), and
# measures the tool's peak resident memory. Prints a Markdown table.
#
# Needs a native build with benchmarks (build/native, or SVCENTRY_BUILD_DIR),
# hyperfine and GNU time. SVCENTRY_BENCH_RUNS sets the timed runs per command.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bench=${SVCENTRY_BUILD_DIR:-$root/build/native}/bench
runs=${SVCENTRY_BENCH_RUNS:-10}
tool=$bench/svcentry_bench_subject
# The tool reads this file of its own sandbox, pointed at each bench file.
services=$bench/system32/Drivers/etc/services
pattern='^gds_db           3050/tcp'
# grep's fastest setting; the tool ignores the environment.
export LC_ALL=C

work=$(mktemp -d)
cleanup() {
  # The next build seeds the sandbox with its sample file again.
  rm -f "$services"
  rm -rf "$work"
}
trap cleanup EXIT

# median_ms CSV LINE: the median of hyperfine's row LINE (1 = first command).
median_ms() {
  awk -F, -v row="$2" 'NR == row + 1 { printf "%.2f", $(NF - 4) * 1000 }' "$1"
}

# peak_kib COMMAND...: the peak resident set size of one run.
peak_kib() {
  /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null
  cat "$work/rss"
}

echo "| file | svcentry (median) | grep -c (median) | speed vs grep | svcentry peak RSS | grep peak RSS |"
echo "|---|---:|---:|---:|---:|---:|"
"$bench/svcentry_make_bench_files" "$@" >"$work/files"
while IFS=$'\t' read -r name size path; do
  mkdir -p "$(dirname "$services")"
  ln -sfn "$path" "$services"
  # Every bench file holds the entry, so the tool must only find it.
  message=$("$tool")
  if [[ $message != *"already exists" ]]; then
    echo "svcentry did not find the entry in $path" >&2
    exit 1
  fi
  hyperfine --shell=none --style=none --warmup 3 --runs "$runs" \
    --export-csv "$work/times.csv" \
    "$tool" "grep -c '$pattern' $path" >/dev/null
  tool_ms=$(median_ms "$work/times.csv" 1)
  grep_ms=$(median_ms "$work/times.csv" 2)
  speed=$(awk -v t="$tool_ms" -v g="$grep_ms" 'BEGIN { printf "%.2f", g / t }')
  tool_kib=$(peak_kib "$tool")
  grep_kib=$(peak_kib grep -c "$pattern" "$path")
  echo "| $name ($size bytes) | $tool_ms ms | $grep_ms ms | $speed | $tool_kib KiB | $grep_kib KiB |"
done <"$work/files"
