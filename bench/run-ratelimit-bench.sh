#!/usr/bin/env bash
# Download speed limit benchmark. Builds a Release tree with the benchmarks, generates a package of
# 64 MiB (fixed seed) published without packing, serves it with nginx on 127.0.0.1 and installs it
# twice: with the limit at 8192 KiB/s (expected: 8 s within 10%) and without a limit (full speed).
# Usage: bench/run-ratelimit-bench.sh [bytes] [KiB/s]. BENCH_BIN_DIR=<folder> runs already built
# binaries. The build takes /tmp/launcher-build.lock so that it never runs beside another.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BYTES="${1:-67108864}"
RATE="${2:-8192}"
SEED=20240607

source "$ROOT/bench/benchlib.sh"
bench_binaries

bench_work_folder ratelimit-bench

"$BENCH" generate "$WORK/v1" "$BYTES" "$SEED" > /dev/null
"$BIN/vantor-publisher" publish --no-progress --version 1 --method 0 "$WORK/v1" "$CDN" > /dev/null
bench_serve "package.json"
PACKED="$(find "$CDN" -type f ! -name package.json -printf '%s\n' | awk '{ s += $1 } END { print s }')"

run() {
    rm -rf "$WORK/installation"
    RATE_LIMIT_KIB="$1" "$BENCH" install "$CDN/package.json" "$BASE" "$WORK/installation" \
        | sed -n 's/^install: \([a-zA-Z]*\) in \([0-9.]*\) s.*/\1 \2/p'
}
read -r LIMITED_RESULT LIMITED <<< "$(run "$RATE")"
read -r FREE_RESULT FREE <<< "$(run 0)"
EXPECTED="$(awk -v b="$PACKED" -v r="$RATE" 'BEGIN { print b / (r * 1024) }')"
awk -v b="$PACKED" -v l="$LIMITED" -v f="$FREE" -v e="$EXPECTED" -v r="$RATE" -v lr="$LIMITED_RESULT" -v fr="$FREE_RESULT" 'BEGIN {
    printf "%d packed bytes\n", b
    printf "limit %d KiB/s: %s in %.2f s (%.0f KiB/s), expected %.2f s, deviation %+.1f%%\n", r, lr, l, b / 1024 / l, e, (l / e - 1) * 100
    printf "no limit:        %s in %.2f s (%.0f KiB/s)\n", fr, f, b / 1024 / f
}'
