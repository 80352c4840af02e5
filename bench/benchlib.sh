# Shared by the benchmark scripts (sourced, after ROOT is set): the programs, a work folder and an
# nginx on 127.0.0.1 serving its CDN folder.

# BIN, the folder of the programs, and BENCH, install_bench: a Release build in BENCH_BUILD_DIR
# (default build-bench), made under /tmp/launcher-build.lock so that it never runs beside another
# build, unless BENCH_BIN_DIR names already built ones.
bench_binaries() {
    if [ -n "${BENCH_BIN_DIR:-}" ]; then
        BIN="$BENCH_BIN_DIR"
    else
        local build="${BENCH_BUILD_DIR:-$ROOT/build-bench}"
        cmake -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DLAUNCHER_BUILD_BENCH=ON -DLAUNCHER_BUILD_TESTS=OFF >/dev/null
        flock /tmp/launcher-build.lock cmake --build "$build" --target install_bench vantor-publisher -j2 >/dev/null
        BIN="$build/bin"
    fi
    BENCH="$BIN/install_bench"
}

# bench_work_folder <name>: WORK, a fresh folder removed on exit (nginx is ended first), and CDN
# inside it.
bench_work_folder() {
    WORK="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
    NGINX_PID=""
    trap bench_cleanup EXIT
    CDN="$WORK/cdn"
    mkdir -p "$CDN"
}

bench_cleanup() {
    if [ -n "$NGINX_PID" ]; then kill "$NGINX_PID" 2>/dev/null || true; wait "$NGINX_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}

# bench_serve <file below CDN> [server directives]: serves CDN on a free loopback port, waits until
# the file is there and sets BASE to the server's address. "$WORK/access.log" has a line
# "<path> <bytes sent>" per request.
bench_serve() {
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
        ${2:-}
    }
}
CONF
    /usr/sbin/nginx -p "$WORK" -c "$WORK/nginx.conf" &
    NGINX_PID=$!
    for _ in $(seq 50); do
        curl -s -o /dev/null "http://127.0.0.1:$PORT/$1" && break
        sleep 0.1
    done
    BASE="http://127.0.0.1:$PORT/"
}

# bench_time <command...>: runs the command under /usr/bin/time after a sync (so that no step pays
# the writeback of the one before), with its output in $WORK/out.txt, printed indented; sets WALL_S,
# USER_S and SYS_S (seconds), RSS_MB (peak MB) and FAULTS (minor page faults).
bench_time() {
    sync
    /usr/bin/time -v -o "$WORK/time.txt" "$@" > "$WORK/out.txt"
    sed 's/^/    /' "$WORK/out.txt"
    WALL_S="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$WORK/time.txt" \
        | awk -F: '{ if (NF == 3) print $1 * 3600 + $2 * 60 + $3; else print $1 * 60 + $2 }')"
    RSS_MB="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$WORK/time.txt" | awk '{ print $1 / 1024 }')"
    USER_S="$(sed -n 's/.*User time (seconds): //p' "$WORK/time.txt")"
    SYS_S="$(sed -n 's/.*System time (seconds): //p' "$WORK/time.txt")"
    FAULTS="$(sed -n 's/.*Minor (reclaiming a frame) page faults: //p' "$WORK/time.txt")"
}
