#!/usr/bin/env bash
# Installation beside an installed sibling. Generates a package (1 GiB by default, fixed seed), a
# second version that shares about 90% of its chunks with it, publishes both, serves them with
# nginx on 127.0.0.1, installs the first as the sibling and then installs the second twice: once
# downloading everything (no sibling given) and once reading what the sibling holds. Prints, side
# by side, the bytes each install requested from nginx and its wall time, user and system time and
# peak memory; both results are compared with the build tree. At the end, the memory the index of
# sibling contents takes for a sibling of a million chunks (files alike, and the worst case of
# files that hold the same chunks in another order).
# Usage: bench/run-sibling-bench.sh [bytes] (default 1073741824). METHOD, BENCH_BIN_DIR and
# BENCH_BUILD_DIR as for run-install-bench.sh; the build takes /tmp/launcher-build.lock.
# LIMIT_RATE=<nginx rate, e.g. 5m> slows every transfer to that many bytes per second, like a real
# connection (the launcher fetches 10 chunks at once); loopback without it is faster than any.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BYTES="${1:-1073741824}"
METHOD="${METHOD:-3}"
SEED=20240607

source "$ROOT/bench/benchlib.sh"
bench_binaries

bench_work_folder sibling-bench

# measure <key> <label> <command...>: the command's output, then its wall, user and system time and
# peak memory, kept under <key> with the bytes nginx sent meanwhile.
measure() {
    local key="$1" label="$2"
    shift 2
    : > "$WORK/access.log"
    bench_time "$@"
    local sent requests
    sent="$(awk '{ sum += $2 } END { print sum + 0 }' "$WORK/access.log")"
    requests="$(wc -l < "$WORK/access.log")"
    echo "$key $WALL_S $USER_S $SYS_S $RSS_MB $sent $requests" >> "$WORK/figures"
}

echo "== machine"
echo "$(nproc) processors, load: $(cut -d' ' -f1-3 /proc/loadavg), transfer rate limit: ${LIMIT_RATE:-none}"

echo "== packages"
"$BENCH" generate "$WORK/v1" "$BYTES" "$SEED"
"$BENCH" share "$WORK/v1" "$WORK/v2" "$((SEED + 1))" 10
for version in 1 2; do
    "$BIN/vantor-publisher" publish --no-progress --version "$version" --method "$METHOD" "$WORK/v$version" "$CDN"
    mv "$CDN/package.json" "$CDN/package-v$version.json"
done
"$BENCH" missing "$CDN/package-v2.json" "$CDN/package-v1.json" "http://127.0.0.1/" | sed 's/^/    v2 beside v1, /'

bench_serve "package-v1.json" "${LIMIT_RATE:+limit_rate $LIMIT_RATE;}"

echo "== the sibling: v1 installed, its document as its full marker"
"$BENCH" install "$CDN/package-v1.json" "$BASE" "$WORK/sibling" | sed 's/^/    /'
cp "$CDN/package-v1.json" "$WORK/sibling/package.json"

echo "== v2 installed without the sibling"
measure alone "v2, everything downloaded" "$BENCH" install "$CDN/package-v2.json" "$BASE" "$WORK/alone"
diff -r -q "$WORK/v2" "$WORK/alone" && echo "    installation equals the v2 build tree"
sync
echo "== v2 installed beside the sibling"
measure beside "v2, read from the sibling" "$BENCH" install-beside "$CDN/package-v2.json" "$BASE" "$WORK/beside" "$WORK/sibling"
diff -r -q "$WORK/v2" "$WORK/beside" && echo "    installation equals the v2 build tree"
diff -r -q -x package.json "$WORK/v1" "$WORK/sibling" && echo "    the sibling still equals the v1 build tree"

echo "== side by side"
printf '%-28s %14s %9s %9s %9s %9s %9s\n' install "bytes fetched" requests "wall s" "user s" "sys s" "peak MB"
awk '{ printf "%-28s %14d %9d %9.2f %9.2f %9.2f %9.1f\n", ($1 == "alone" ? "without seeding" : "with seeding"), $6, $7, $2, $3, $4, $5 }' "$WORK/figures"

echo "== index of the contents a run needs, a sibling of a million chunks"
/usr/bin/time -v -o "$WORK/time.txt" "$BENCH" index 1000000 | sed 's/^/    /'
echo "    peak memory of the whole program (the run's and the sibling's document both parsed): $(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time.txt" | awk '{ printf "%.0f MB", $1 / 1024 }')"
echo "   the same chunks in another order in every file (one stretch per chunk, the worst case):"
"$BENCH" index 1000000 scattered | sed 's/^/    /'
