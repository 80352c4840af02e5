#!/usr/bin/env bash
# Chunker and publisher benchmark. Builds a Release tree with the benchmarks,
# generates a 1 GiB build of mixed files (fixed seed), and measures:
#   - the launcher's chunker with and without SHA-256 per chunk (one thread),
#     next to `openssl dgst -sha256` over the same files;
#   - the publisher's wall time for that tree per packing method (0, 3, 4, 5);
#   - per packing method, saving and unpacking speed over chunks of
#     different compressibility (the basis of the publisher's minimum saving).
# Usage: bench/run-chunker-bench.sh [bytes]   (default 1073741824)
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BENCH_BUILD_DIR:-$ROOT/build-bench}"
BYTES="${1:-1073741824}"
SEED=20240601

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLAUNCHER_BUILD_BENCH=ON -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target chunker_bench vantor-publisher -j2 >/dev/null
BIN="$BUILD/bin"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/chunker-bench.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
TREE="$WORK/tree"

echo "== machine"
echo "$(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== tree"
"$BIN/chunker_bench" generate "$TREE" "$BYTES" "$SEED"
# Read everything once so that every measurement below starts from the page cache.
find "$TREE" -type f -print0 | xargs -0 cat > /dev/null

echo "== chunker (one thread)"
CHUNK_OUT="$("$BIN/chunker_bench" chunk "$TREE")"
echo "$CHUNK_OUT" | grep -v '^chunk+hash seconds'
CHUNK_SECONDS="$(echo "$CHUNK_OUT" | sed -n 's/^chunk+hash seconds: //p')"

echo "== openssl dgst -sha256 (one process)"
START=$(date +%s.%N)
find "$TREE" -type f -print0 | sort -z | xargs -0 openssl dgst -sha256 > /dev/null
END=$(date +%s.%N)
awk -v s="$START" -v e="$END" -v b="$BYTES" -v c="$CHUNK_SECONDS" 'BEGIN {
    t = e - s
    printf "%-34s %8.2f s  %8.1f MB/s\n", "openssl dgst -sha256", t, b / 1e6 / t
    printf "chunker + SHA-256 runs at %.2f times the openssl throughput\n", t / c
}'

echo "== publisher ($(nproc) threads, fresh output folder each)"
for METHOD in 0 3 4 5; do
    OUT="$WORK/cdn-$METHOD"
    START=$(date +%s.%N)
    SUMMARY="$("$BIN/vantor-publisher" publish --no-progress --version 1 --method "$METHOD" "$TREE" "$OUT")"
    END=$(date +%s.%N)
    awk -v s="$START" -v e="$END" -v b="$BYTES" -v m="$METHOD" 'BEGIN {
        t = e - s; printf "method %s: %8.2f s  %8.1f MB/s  ", m, t, b / 1e6 / t }'
    echo "$SUMMARY"
    rm -rf "$OUT"
done

echo "== packing methods over 4 MiB chunks (text share = compressible part)"
"$BIN/chunker_bench" packing "$SEED"
