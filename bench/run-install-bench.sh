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
#   - when casync is installed, the same tree through a general content-defined chunk store:
#     `casync make` into a store served by the same nginx, `casync extract` from it.
# Every figure is printed with its wall time, user and system time and peak memory, and at the
# end as a ratio to its reference measured in the same run.
# Usage: bench/run-install-bench.sh [bytes] (default 1073741824; 4294967296 for the big variant).
# METHOD=0|3|4|5 picks the publisher's packing (default 3; 5 is what a studio would use but takes
# long to publish). BENCH_BIN_DIR=<folder> runs already built binaries (no build), e.g. those of an
# older revision. The build takes /tmp/launcher-build.lock so that it never runs beside another.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${BENCH_BUILD_DIR:-$ROOT/build-bench}"
BYTES="${1:-1073741824}"
METHOD="${METHOD:-3}"
SEED=20240607

if [ -n "${BENCH_BIN_DIR:-}" ]; then
    BIN="$BENCH_BIN_DIR"
else
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DLAUNCHER_BUILD_BENCH=ON -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
    flock /tmp/launcher-build.lock cmake --build "$BUILD" --target install_bench vantor-publisher -j2 >/dev/null
    BIN="$BUILD/bin"
fi
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

# measure <key> <label> <command...>: runs the command under /usr/bin/time and prints its own
# output, the wall, user and system times, the minor page faults and the peak resident memory;
# keeps them in $WORK/figures under <key> for the table at the end.
measure() {
    local key="$1" label="$2"
    shift 2
    /usr/bin/time -v -o "$WORK/time.txt" "$@" > "$WORK/out.txt"
    sed 's/^/    /' "$WORK/out.txt"
    local wall rss user sys faults
    wall="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/time.txt" \
        | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')"
    rss="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time.txt" | awk '{ print $1 / 1024 }')"
    user="$(sed -n 's/.*User time (seconds): //p' "$WORK/time.txt")"
    sys="$(sed -n 's/.*System time (seconds): //p' "$WORK/time.txt")"
    faults="$(sed -n 's/.*Minor (reclaiming a frame) page faults: //p' "$WORK/time.txt")"
    printf '%-44s %7.2f s wall %7.2f s user %7.2f s sys %8d faults %7.1f MB peak\n' \
        "$label" "$wall" "$user" "$sys" "$faults" "$rss"
    echo "$key $wall $user $sys $rss" >> "$WORK/figures"
    LAST_WALL="$wall"
}

# figure <key> <field>: a kept figure (2 wall, 3 user, 4 system, 5 peak MB).
figure() {
    awk -v k="$1" -v f="$2" '$1 == k { v = $f } END { print v + 0 }' "$WORK/figures"
}

echo "== machine"
echo "$(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"

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
measure install "fresh install from nginx" "$BENCH" install "$CDN/package-v1.json" "$BASE" "$WORK/installation"
"$BENCH" urls "$CDN/package-v1.json" "$BASE" > "$WORK/urls.txt"
mkdir -p "$WORK/fetched"
awk '{ printf "url = \"%s\"\noutput = \"%s/fetched/%d\"\n", $0, dir, NR }' dir="$WORK" "$WORK/urls.txt" > "$WORK/curl.cfg"
measure curl "floor: curl --parallel --parallel-max 10" curl -s -S --no-progress-meter --parallel --parallel-max 10 -K "$WORK/curl.cfg"
measure decode "floor: unpack with the launcher's decoder" "$BENCH" decode "$WORK/fetched"
rm -rf "$WORK/fetched"

echo "== verification and scan of the installed package"
measure openssl "openssl dgst -sha256" sh -c "find '$WORK/installation' -type f -print0 | sort -z | xargs -0 openssl dgst -sha256 > /dev/null"
measure verify "verification (forced)" "$BENCH" verify "$CDN/package-v1.json" "$WORK/installation"
measure scan "full update scan, nothing to fetch" "$BENCH" scan "$CDN/package-v1.json" "$WORK/installation"

echo "== update with about 5% changed"
"$BENCH" mutate "$WORK/v1" "$WORK/v2" "$((SEED + 1))"
"$BIN/vantor-publisher" publish --no-progress --version 2 --method "$METHOD" "$WORK/v2" "$CDN"
mv "$CDN/package.json" "$CDN/package-v2.json"
MISSING="$("$BENCH" missing "$CDN/package-v2.json" "$CDN/package-v1.json" "$BASE")"
echo "    $MISSING"
MISSING_BYTES="$(echo "$MISSING" | sed -n 's/.*, \([0-9]*\) packed bytes of.*/\1/p')"
: > "$WORK/access.log"
measure update "update v1 -> v2 from nginx" "$BENCH" install "$CDN/package-v2.json" "$BASE" "$WORK/installation" "$CDN/package-v1.json"
UPDATE_WALL="$LAST_WALL"
REQUESTED="$(awk '{ sum += $2 } END { print sum + 0 }' "$WORK/access.log")"
REQUESTS="$(wc -l < "$WORK/access.log")"
"$BENCH" verify "$CDN/package-v2.json" "$WORK/installation" | sed 's/^/    after the update, /'
diff -r -q "$WORK/v2" "$WORK/installation" && echo "    installation equals the v2 build tree"

if command -v casync > /dev/null; then
    # casync's own chunk sizes (64 KiB on average): its HTTP fetcher refuses chunks of 8 MiB and more.
    echo "== casync over the same tree and the same nginx"
    measure casync-make "casync make (store on disk)" \
        casync make --store="$CDN/casync.castr" "$CDN/casync.caidx" "$WORK/v1"
    measure casync-extract "casync extract from nginx" \
        casync extract --store="${BASE}casync.castr" "${BASE}casync.caidx" "$WORK/casync-tree"
    diff -r -q "$WORK/v1" "$WORK/casync-tree" > /dev/null && echo "    extracted tree equals the v1 build tree"
    rm -rf "$WORK/casync-tree"
fi

echo "== load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== ratios (wall time / reference wall time, same run)"
printf '%-40s %7s %9s %7s %8s %8s %9s\n' figure wall reference ratio user sys "peak MB"
row() {
    local key="$1" label="$2" reference="$3"
    awk -v l="$label" -v w="$(figure "$key" 2)" -v r="$reference" -v u="$(figure "$key" 3)" \
        -v s="$(figure "$key" 4)" -v m="$(figure "$key" 5)" 'BEGIN {
        printf "%-40s %7.2f %9.2f %7.2f %8.2f %8.2f %9.1f\n", l, w, r, (r > 0 ? w / r : 0), u, s, m }'
}
FLOOR="$(awk -v c="$(figure curl 2)" -v d="$(figure decode 2)" 'BEGIN { print c + d }')"
OPENSSL="$(figure openssl 2)"
row verify "verification / openssl" "$OPENSSL"
row scan "full scan / openssl" "$OPENSSL"
row install "fresh install / (curl + unpack)" "$FLOOR"
if command -v casync > /dev/null; then
    row casync-extract "casync extract / (curl + unpack)" "$FLOOR"
    row casync-extract "casync extract / launcher install" "$(figure install 2)"
fi
awk -v r="$REQUESTED" -v m="$MISSING_BYTES" -v n="$REQUESTS" -v u="$UPDATE_WALL" 'BEGIN {
    printf "update: %d requests, %d bytes requested / %d packed bytes missing = %.2f, in %.2f s\n", n, r, m, r / m, u
}'
