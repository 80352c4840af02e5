#!/usr/bin/env bash
# Installation benchmark. Builds a Release tree with the benchmarks, generates a package of
# mixed files (1 GiB by default, fixed seed, mostly files of several chunks), publishes it,
# serves it with nginx on 127.0.0.1 and measures, each with its wall time and peak memory:
#   - verification of the installed files, next to `openssl dgst -sha256` over them;
#   - a full update scan (no fast scan, nothing to fetch), next to the same openssl run;
#   - a fresh installation from nginx, next to its floor: fetching the same pieces with
#     `curl --parallel --parallel-max 10`, then unpacking them with the launcher's decoder;
#   - an update with about 5% of the content changed: bytes requested from nginx divided by the
#     packed bytes of the pieces the new version really lacks (1.00 means nothing extra was
#     fetched), and its wall time.
# Usage: bench/run-install-bench.sh [bytes] (default 1073741824). METHOD=0|3|4|5 picks the
# publisher's packing (default 3; 5 is what a studio would use but takes long to publish).
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BENCH_BUILD_DIR:-$ROOT/build-bench}"
BYTES="${1:-1073741824}"
METHOD="${METHOD:-3}"
SEED=20240607

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DLAUNCHER_BUILD_BENCH=ON -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target install_bench vantor-publisher -j2 >/dev/null
BIN="$BUILD/bin"
BENCH="$BIN/install_bench"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/install-bench.XXXXXX")"
NGINX_PID=""
cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT
CDN="$WORK/cdn"
mkdir -p "$CDN"

# measure <label> <command...>: runs the command under /usr/bin/time and prints its own output,
# the wall time and the peak resident memory.
measure() {
    local label="$1"
    shift
    /usr/bin/time -v -o "$WORK/time.txt" "$@" > "$WORK/out.txt"
    sed 's/^/    /' "$WORK/out.txt"
    local wall rss
    wall="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/time.txt" \
        | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')"
    rss="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time.txt")"
    printf '%-44s %8.2f s  %7.1f MB peak\n' "$label" "$wall" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')"
    LAST_WALL="$wall"
}

echo "== machine"
echo "$(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"

echo "== package"
"$BENCH" generate "$WORK/v1" "$BYTES" "$SEED"
"$BIN/vantor-publisher" publish --no-progress --version 1 --method "$METHOD" "$WORK/v1" "$CDN"
mv "$CDN/package.json" "$CDN/package-v1.json"

PORT="$("$BENCH" free-port)"
cat > "$WORK/nginx.conf" <<CONF
worker_processes 1;
daemon off;
master_process off;
pid $WORK/nginx.pid;
error_log $WORK/nginx-error.log;
events { worker_connections 512; }
http {
    log_format bench '\$uri \$body_bytes_sent';
    access_log $WORK/access.log bench;
    client_body_temp_path $WORK/client;
    proxy_temp_path $WORK/proxy;
    fastcgi_temp_path $WORK/fastcgi;
    uwsgi_temp_path $WORK/uwsgi;
    scgi_temp_path $WORK/scgi;
    sendfile on;
    keepalive_requests 10000;
    server {
        listen 127.0.0.1:$PORT;
        root $CDN;
    }
}
CONF
/usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" &
NGINX_PID=$!
for _ in $(seq 50); do
    curl -s -o /dev/null "http://127.0.0.1:$PORT/package-v1.json" && break
    sleep 0.1
done
BASE="http://127.0.0.1:$PORT/"
: > "$WORK/access.log"

echo "== fresh installation"
measure "fresh install from nginx" "$BENCH" install "$CDN/package-v1.json" "$BASE" "$WORK/installation"
INSTALL_WALL="$LAST_WALL"
"$BENCH" urls "$CDN/package-v1.json" "$BASE" > "$WORK/urls.txt"
mkdir -p "$WORK/fetched"
awk '{ printf "url = \"%s\"\noutput = \"%s/fetched/%d\"\n", $0, dir, NR }' dir="$WORK" "$WORK/urls.txt" > "$WORK/curl.cfg"
measure "floor: curl --parallel --parallel-max 10" curl -s -S --no-progress-meter --parallel --parallel-max 10 -K "$WORK/curl.cfg"
CURL_WALL="$LAST_WALL"
measure "floor: unpack with the launcher's decoder" "$BENCH" decode "$WORK/fetched"
DECODE_WALL="$LAST_WALL"
rm -rf "$WORK/fetched"

echo "== verification and scan of the installed package"
measure "openssl dgst -sha256" sh -c "find '$WORK/installation' -type f -print0 | sort -z | xargs -0 openssl dgst -sha256 > /dev/null"
OPENSSL_WALL="$LAST_WALL"
measure "verification (forced)" "$BENCH" verify "$CDN/package-v1.json" "$WORK/installation"
VERIFY_WALL="$LAST_WALL"
measure "full update scan, nothing to fetch" "$BENCH" scan "$CDN/package-v1.json" "$WORK/installation"
SCAN_WALL="$LAST_WALL"

echo "== update with about 5% changed"
"$BENCH" mutate "$WORK/v1" "$WORK/v2" "$((SEED + 1))"
"$BIN/vantor-publisher" publish --no-progress --version 2 --method "$METHOD" "$WORK/v2" "$CDN"
mv "$CDN/package.json" "$CDN/package-v2.json"
MISSING="$("$BENCH" missing "$CDN/package-v2.json" "$CDN/package-v1.json" "$BASE")"
echo "    $MISSING"
MISSING_BYTES="$(echo "$MISSING" | sed -n 's/.*, \([0-9]*\) packed bytes of.*/\1/p')"
: > "$WORK/access.log"
measure "update v1 -> v2 from nginx" "$BENCH" install "$CDN/package-v2.json" "$BASE" "$WORK/installation" "$CDN/package-v1.json"
UPDATE_WALL="$LAST_WALL"
REQUESTED="$(awk '{ sum += $2 } END { print sum + 0 }' "$WORK/access.log")"
REQUESTS="$(wc -l < "$WORK/access.log")"
"$BENCH" verify "$CDN/package-v2.json" "$WORK/installation" | sed 's/^/    after the update, /'
diff -r -q "$WORK/v2" "$WORK/installation" && echo "    installation equals the v2 build tree"

echo "== ratios"
awk -v i="$INSTALL_WALL" -v c="$CURL_WALL" -v d="$DECODE_WALL" -v o="$OPENSSL_WALL" -v v="$VERIFY_WALL" \
    -v s="$SCAN_WALL" -v r="$REQUESTED" -v m="$MISSING_BYTES" -v n="$REQUESTS" -v u="$UPDATE_WALL" 'BEGIN {
    printf "verification / openssl:              %.2f\n", v / o
    printf "full scan / openssl:                 %.2f\n", s / o
    printf "fresh install / (curl + unpack):     %.2f\n", i / (c + d)
    printf "update: %d requests, %d bytes requested / %d packed bytes missing = %.2f, in %.2f s\n", n, r, m, r / m, u
}'
