#!/usr/bin/env bash
# Installation benchmark. Builds a Release tree with the benchmarks, generates packages (fixed
# seeds), publishes them, serves them with nginx on 127.0.0.1 and measures for each package, each
# with its wall, user and system time, peak memory and the longest event-loop stall of the host
# (a 10 ms timer; scan and install run on the pool as in the launcher); installs also print the GUI
# thread's time on a processor and its time waiting for one:
#   - a fresh installation from nginx, next to its floor: fetching the same pieces with
#     `curl --parallel --parallel-max 10` to disk, plus `openssl dgst -sha256` over the installed
#     tree (the unpacking with the launcher's decoder is measured too, as a second reference);
#   - verification of the installed files, next to that openssl run;
#   - a full update scan (no fast scan, nothing to fetch), next to the same openssl run.
# The packages: "1g", mixed files (mostly several chunks each, about a third packable); "4g", one
# file of 4 GiB; "small", 2,000 files of 1 to 256 KiB (memory and per-file costs).
# For "1g" also:
#   - an update with about 5% of the content changed, run as the launcher runs it (through the
#     installation manager: markers, scan, download, verification, full marker): bytes requested
#     from nginx divided by the packed bytes of the pieces the new version really lacks (1.00 means
#     nothing extra was fetched), and its wall time;
#   - the GUI thread's share of a marker of MARKER_CHUNKS (default 1000000) chunks: one status at
#     the launcher's start, and the start of an update until its markers are read and written;
#   - when casync is installed (and SKIP_CASYNC=1 is not set), the same tree through a general content-defined chunk store:
#     `casync make` into a store served by the same nginx, `casync extract` from it.
# At the end one table gives every figure with its reference and ratio, measured in the same run.
# Usage: bench/run-install-bench.sh [package...] (default: 1g 4g small). BYTES (default 1073741824)
# and BIG_BYTES (default 4294967296) set the sizes of "1g" and "4g", SMALL_COUNT (default 2000) the
# files of "small". METHOD=0|3|4|5 picks the publisher's packing (default 3; 5 is what a studio
# would use but takes long to publish). BENCH_BIN_DIR=<folder> runs already built binaries (no
# build), e.g. those of an older revision; BENCH_GENERATOR=<install_bench> generates the packages
# with another build. BENCH_CACHE=<folder> keeps generated and published packages there and reuses
# them in later runs (the publisher must not have changed in between). The build takes /tmp/launcher-build.lock so that it never
# runs beside another; run the measurements themselves under that lock with BENCH_BIN_DIR set.
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BYTES="${BYTES:-1073741824}"
BIG_BYTES="${BIG_BYTES:-4294967296}"
SMALL_COUNT="${SMALL_COUNT:-2000}"
METHOD="${METHOD:-3}"
SEED=20240607
CASYNC=0
if [ "${SKIP_CASYNC:-0}" != 1 ] && command -v casync > /dev/null; then CASYNC=1; fi
PACKAGES=("$@")
if [ "${#PACKAGES[@]}" -eq 0 ]; then PACKAGES=(1g 4g small); fi

source "$ROOT/bench/benchlib.sh"
bench_binaries
# The generator may come from another build (an older install_bench may lack a package kind).
GENERATOR="${BENCH_GENERATOR:-$BENCH}"

bench_work_folder install-bench
: > "$WORK/figures"

# measure <key> <label> <command...>: runs the command under /usr/bin/time and prints its own
# output, the wall, user and system times, the minor page faults and the peak resident memory;
# keeps them, and the longest event-loop stall the command reported, in $WORK/figures under <key>.
measure() {
    local key="$1" label="$2"
    shift 2
    bench_time "$@"
    local stall
    stall="$(sed -n 's/.*longest event-loop stall \([0-9]*\) ms.*/\1/p' "$WORK/out.txt" | tail -1)"
    printf '%-44s %7.2f s wall %7.2f s user %7.2f s sys %8d faults %7.1f MB peak\n' \
        "$label" "$WALL_S" "$USER_S" "$SYS_S" "$FAULTS" "$RSS_MB"
    echo "$key $WALL_S $USER_S $SYS_S $RSS_MB ${stall:--1}" >> "$WORK/figures"
    LAST_WALL="$WALL_S"
}

# fresh_memory: a page cache already full makes the next writer pay for reclaiming it, which on this
# kind of machine costs more than the writing. Before each install (the launcher's and curl's) the
# clean cache is dropped where this user may, and the CDN's files are read back in so that nginx
# serves both from memory.
fresh_memory() {
    sync
    if [ -w /proc/sys/vm/drop_caches ]; then echo 1 > /proc/sys/vm/drop_caches; fi
    warm "$CDN"
}

# warm <folder>: reads the folder's files into the page cache.
warm() {
    find "$1/" -type f -exec cat {} + > /dev/null
}

# figure <key> <field>: a kept figure (2 wall, 3 user, 4 system, 5 peak MB, 6 stall ms).
figure() {
    awk -v k="$1" -v f="$2" '$1 == k { v = $f } END { print v + 0 }' "$WORK/figures"
}

echo "== machine"
echo "$(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"

bench_serve ""

# publish <tree> <version> <document name>: publishes the tree into the CDN folder.
publish() {
    "$BIN/vantor-publisher" publish --no-progress --version "$2" --method "$METHOD" "$1" "$CDN"
    mv "$CDN/package.json" "$CDN/$3"
}

# install_and_check <name>: installs $CDN/<name>-v1.json into $WORK/<name>-installation and
# measures it with its references, verification and scan.
install_and_check() {
    local name="$1" document="$CDN/$1-v1.json" installation="$WORK/$1-installation"
    echo "== $name: fresh installation"
    fresh_memory
    measure "$name-install" "fresh install from nginx" "$BENCH" install "$document" "$BASE" "$installation"
    "$BENCH" urls "$document" "$BASE" > "$WORK/urls.txt"
    mkdir -p "$WORK/fetched"
    awk '{ printf "url = \"%s\"\noutput = \"%s/fetched/%d\"\n", $0, dir, NR }' dir="$WORK" "$WORK/urls.txt" > "$WORK/curl.cfg"
    fresh_memory
    measure "$name-curl" "floor: curl --parallel --parallel-max 10" curl -s -S --no-progress-meter --parallel --parallel-max 10 -K "$WORK/curl.cfg"
    measure "$name-decode" "reference: unpack with the launcher's decoder" "$BENCH" decode "$WORK/fetched"
    rm -rf "$WORK/fetched"
    echo "== $name: verification and scan of the installed package"
    warm "$installation"
    measure "$name-openssl" "openssl dgst -sha256" sh -c "find '$installation' -type f -print0 | sort -z | xargs -0 openssl dgst -sha256 > /dev/null"
    measure "$name-verify" "verification (forced)" "$BENCH" verify "$document" "$installation"
    measure "$name-scan" "full update scan, nothing to fetch" "$BENCH" scan "$document" "$installation"
}

update_and_casync() {
    echo "== 1g: update with about 5% changed"
    "$BENCH" mutate "$WORK/1g" "$WORK/1g-v2" "$((SEED + 1))"
    publish "$WORK/1g-v2" 2 1g-v2.json
    MISSING="$("$BENCH" missing "$CDN/1g-v2.json" "$CDN/1g-v1.json" "$BASE")"
    echo "    $MISSING"
    MISSING_BYTES="$(echo "$MISSING" | sed -n 's/.*, \([0-9]*\) packed bytes of.*/\1/p')"
    : > "$WORK/access.log"
    measure update "update v1 -> v2 from nginx, markers and verification" "$BENCH" run "$CDN/1g-v2.json" "$BASE" "$WORK/1g-installation" "$CDN/1g-v1.json"
    UPDATE_WALL="$LAST_WALL"
    REQUESTED="$(awk '{ sum += $2 } END { print sum + 0 }' "$WORK/access.log")"
    REQUESTS="$(wc -l < "$WORK/access.log")"
    "$BENCH" verify "$CDN/1g-v2.json" "$WORK/1g-installation" | sed 's/^/    after the update, /'
    diff -r -q "$WORK/1g-v2" "$WORK/1g-installation" && echo "    installation equals the v2 build tree"
    rm -rf "$WORK/1g-v2"
    measure markers "marker of ${MARKER_CHUNKS:-1000000} chunks" "$BENCH" markers "${MARKER_CHUNKS:-1000000}"
    if [ "$CASYNC" = 1 ]; then
        # casync's own chunk sizes (64 KiB on average): its HTTP fetcher refuses chunks of 8 MiB and more.
        echo "== 1g: casync over the same tree and the same nginx"
        measure casync-make "casync make (store on disk)" \
            casync make --store="$CDN/casync.castr" "$CDN/casync.caidx" "$WORK/1g"
        measure casync-extract "casync extract from nginx" \
            casync extract --store="${BASE}casync.castr" "${BASE}casync.caidx" "$WORK/casync-tree"
        diff -r -q "$WORK/1g" "$WORK/casync-tree" > /dev/null && echo "    extracted tree equals the v1 build tree"
        rm -rf "$WORK/casync-tree" "$CDN/casync.castr"
    fi
}

# prepare <package>: the generated tree in $WORK/<package> and its published files in $CDN, taken
# from $BENCH_CACHE when it holds them already (kept there otherwise).
prepare() {
    local package="$1" cached=""
    if [ -n "${BENCH_CACHE:-}" ]; then
        case "$package" in
        1g) cached="$BENCH_CACHE/1g-$BYTES-$METHOD" ;;
        4g) cached="$BENCH_CACHE/4g-$BIG_BYTES-$METHOD" ;;
        small) cached="$BENCH_CACHE/small-$SMALL_COUNT-$METHOD" ;;
        esac
    fi
    if [ -n "$cached" ] && [ -f "$cached/done" ]; then
        echo "    (generated and published before: $cached)"
        cp -r "$cached/tree" "$WORK/$package"
        cp -r "$cached/cdn/." "$CDN/"
        return
    fi
    case "$package" in
    1g) "$GENERATOR" generate "$WORK/$package" "$BYTES" "$SEED" ;;
    4g) "$GENERATOR" generate-big "$WORK/$package" "$BIG_BYTES" "$SEED" ;;
    small) "$GENERATOR" generate-small "$WORK/$package" "$SMALL_COUNT" "$SEED" ;;
    *) echo "unknown package $package (1g, 4g, small)" >&2; exit 2 ;;
    esac
    publish "$WORK/$package" 1 "$package-v1.json"
    if [ -n "$cached" ]; then
        rm -rf "$cached" && mkdir -p "$cached"
        cp -r "$WORK/$package" "$cached/tree" && cp -r "$CDN" "$cached/cdn" && touch "$cached/done"
    fi
}

for package in "${PACKAGES[@]}"; do
    echo "== $package: package"
    prepare "$package"
    install_and_check "$package"
    if [ "$package" = 1g ]; then update_and_casync; fi
    # What the next package needs is the disk and the page cache.
    rm -rf "$WORK/$package" "$WORK/$package-installation" "${CDN:?}"/*
done

echo "== load after the run: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== ratios (wall time / reference wall time, same run; stall: longest event-loop stall)"
printf '%-46s %7s %9s %7s %8s %8s %9s %8s\n' figure wall reference ratio user sys "peak MB" "stall ms"
row() {
    local key="$1" label="$2" reference="$3"
    awk -v l="$label" -v w="$(figure "$key" 2)" -v r="$reference" -v u="$(figure "$key" 3)" \
        -v s="$(figure "$key" 4)" -v m="$(figure "$key" 5)" -v t="$(figure "$key" 6)" 'BEGIN {
        printf "%-46s %7.2f %9.2f %7.2f %8.2f %8.2f %9.1f %8s\n", l, w, r, (r > 0 ? w / r : 0), u, s, m, (t >= 0 ? t : "-") }'
}
sum() {
    awk -v a="$(figure "$1" 2)" -v b="$(figure "$2" 2)" 'BEGIN { print a + b }'
}
for package in "${PACKAGES[@]}"; do
    OPENSSL="$(figure "$package-openssl" 2)"
    row "$package-verify" "$package: verification / openssl" "$OPENSSL"
    row "$package-scan" "$package: full scan / openssl" "$OPENSSL"
    row "$package-install" "$package: fresh install / (curl + openssl)" "$(sum "$package-curl" "$package-openssl")"
    row "$package-install" "$package: fresh install / (curl + unpack)" "$(sum "$package-curl" "$package-decode")"
    if [ "$package" = 1g ] && [ "$CASYNC" = 1 ]; then
        row casync-extract "1g: casync extract / (curl + openssl)" "$(sum 1g-curl 1g-openssl)"
        row casync-extract "1g: casync extract / launcher install" "$(figure 1g-install 2)"
    fi
done
for package in "${PACKAGES[@]}"; do
    if [ "$package" = 1g ]; then
        awk -v r="$REQUESTED" -v m="$MISSING_BYTES" -v n="$REQUESTS" -v u="$UPDATE_WALL" 'BEGIN {
            printf "1g update: %d requests, %d bytes requested / %d packed bytes missing = %.2f, in %.2f s\n", n, r, m, r / m, u
        }'
    fi
done
