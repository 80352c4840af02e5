#!/usr/bin/env bash
# The launcher demo. Publishes a small sample game with the publisher into a local CDN folder
# (.demo/cdn), serves it with nginx on 127.0.0.1, puts a launcher with its own
# launchersettings.ini into .demo/launcher and starts it:
#   - with a display, the launcher's window opens and the player can install and play;
#   - without one, the launcher runs headless with --first-launch: it installs and verifies the
#     sample game, starts the sample client (which ends by itself after a few seconds), and the
#     demo checks the result and ends with exit code 0.
# Everything the launcher downloads is signed: the demo makes an Ed25519 key (.demo/signing-key.pem,
# never committed), the publisher signs every document with it, and the launcher's settings hold
# its public half, so the launcher installs nothing that does not carry the studio's signature.
# Expects a built tree (scripts/run.sh builds first). Every run starts from an empty .demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
bin="$root/${BUILD_DIR:-build}/bin"
demo="$root/.demo"
game="$demo/game"
cdn="$demo/cdn"
web="$demo/nginx"
launcher_dir="$demo/launcher"
nginx=${NGINX:-/usr/sbin/nginx}

say() { printf '\033[1m[demo]\033[0m %s\n' "$*"; }
fail() { printf '\033[1;31m[demo] %s\033[0m\n' "$*" >&2; exit 1; }

for program in VantorLauncher vantor-publisher vantor-sampleclient launcher.en.qm; do
    [ -e "$bin/$program" ] || fail "$bin/$program is missing: build first (scripts/build.sh)."
done
[ -x "$nginx" ] || fail "nginx is missing ($nginx): run scripts/install-dependencies.sh."
command -v openssl >/dev/null || fail "openssl is missing: run scripts/install-dependencies.sh."
case "$(uname -m)" in
    x86_64 | amd64) architecture=x86_64 ;;
    i386 | i686) architecture=i386 ;;
    *) fail "the launcher offers packages for x86_64 and i386 only, not $(uname -m)." ;;
esac

nginx_pid=""
cleanup() {
    if [ -n "$nginx_pid" ] && kill -0 "$nginx_pid" 2>/dev/null; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$demo"
mkdir -p "$game" "$cdn" "$web/logs" "$web/temp" "$launcher_dir"

# --- The sample game: its program, one file of several chunks, and a few small ones.
say "Writing the sample game into $game"
install -m 755 "$bin/vantor-sampleclient" "$game/VantorOnlineClient"
mkdir -p "$game/data" "$game/VantorOnlineClient_Data/Data/Settings"
# 32 MB of text that does not repeat (content-defined chunks average 8 MB), the same on every run.
perl -e 'srand(7); binmode STDOUT; my @c = ("a" .. "z", " ", " ", "\n");
    for (1 .. 512) { print join("", map { $c[int(rand(29))] } 1 .. 65536) }' > "$game/data/world.pak"
printf 'The realm of Vantor, as far as this sample goes.\n' > "$game/data/lore.txt"
printf '[graphics]\nquality=high\nvsync=true\n' > "$game/VantorOnlineClient_Data/Data/Settings/graphics.ini"
printf 'Vantor Online sample game, published by scripts/demo.sh.\n' > "$game/README.txt"

# --- The studio's signing key, made fresh for every demo run and kept out of the CDN folder.
signing_key="$demo/signing-key.pem"
say "Making the signing key $signing_key"
(umask 077 && openssl genpkey -algorithm ed25519 -out "$signing_key")
public_key=$("$bin/vantor-publisher" public-key --sign-key "$signing_key")
[ "$public_key" = "$(openssl pkey -in "$signing_key" -pubout -outform DER | tail -c 32 | base64)" ] \
    || fail "the publisher and openssl disagree about the public key"

say "Publishing it, signed, into $cdn/vantor/linux"
"$bin/vantor-publisher" publish --version 1.0 --executable VantorOnlineClient \
    --parameter=--realm=demo --generation second --variant regular --method 3 --no-progress \
    --sign-key "$signing_key" "$game" "$cdn/vantor/linux"

# --- nginx on a free loopback port, with its own configuration.
start_nginx() {
    local port=$1
    cat > "$web/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $web/nginx.pid;
lock_file $web/nginx.lock;
error_log $web/logs/error.log info;
events { worker_connections 256; }
http {
    access_log $web/logs/access.log;
    client_body_temp_path $web/temp/body;
    proxy_temp_path $web/temp/proxy;
    fastcgi_temp_path $web/temp/fastcgi;
    uwsgi_temp_path $web/temp/uwsgi;
    scgi_temp_path $web/temp/scgi;
    types { application/json json; image/png png; text/plain txt; }
    default_type application/octet-stream;
    server {
        listen 127.0.0.1:$port;
        root $cdn;
        # The maker's services, answered here so the launcher's reports succeed.
        location = /funnel { default_type application/json; return 200 '{"received":true}'; }
        location = /survey { default_type application/json; return 200 '{"errorCode":0,"errorMessage":""}'; }
        location = /cdn-cgi/trace {
            default_type text/plain;
            return 200 "fl=demo\nh=127.0.0.1\nip=127.0.0.1\nts=\$msec\ncolo=LOCAL\n";
        }
        location / { }
    }
}
EOF
    rm -f "$web/nginx.pid" "$web/logs/error.log"
    "$nginx" -p "$web/" -e "$web/logs/error.log" -c "$web/nginx.conf" &
    nginx_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$web/nginx.pid" ] && return 0
        kill -0 "$nginx_pid" 2>/dev/null || break
        sleep 0.05
    done
    wait "$nginx_pid" 2>/dev/null || true
    nginx_pid=""
    return 1
}
port=""
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 40000))
    if start_nginx "$candidate"; then
        port=$candidate
        break
    fi
    grep -q "Address already in use" "$web/logs/error.log" 2>/dev/null || fail "nginx did not start: $(cat "$web/logs/error.log" 2>/dev/null)"
done
[ -n "$port" ] || fail "no free port for nginx"
base="http://127.0.0.1:$port"
say "nginx serves $cdn on $base (pid $nginx_pid)"

# --- The launcher configuration and the hints, which name the server's address.
mkdir -p "$cdn/hints"
cp "$root/resources/images/launcher/VantorLogo_QT.png" "$cdn/hints/welcome.png"
cp "$root/resources/images/launcher/VantorLogo_Classic.png" "$cdn/hints/realm.png"
cp "$root/resources/images/launcher/QuorvaneLogo.png" "$cdn/hints/news.png"
cat > "$cdn/hints.json" <<EOF
[
  {"title": "Welcome", "richText": "Welcome to <b>Vantor Online</b>", "imageUrl": "$base/hints/welcome.png",
   "category": "cat1", "url": "$base/hints/welcome.png"},
  {"title": "The realm", "richText": "The demo realm is open", "imageUrl": "$base/hints/realm.png",
   "category": "cat2", "url": "$base/hints/realm.png"},
  {"title": "News", "richText": "Served from your own machine", "imageUrl": "$base/hints/news.png",
   "category": "cat3", "url": "$base/hints/news.png"}
]
EOF
"$bin/vantor-publisher" configure "$cdn/launcher.json" \
    --package "name=Vantor Online;directoryname=vantor;installautomatically=true;build=linux,$architecture,vantor/linux/package.json" \
    --hints "$base/hints.json" --funnel "$base/funnel" --hardware-survey "$base/survey" \
    --show-package-names --expires "$(date -u -d '+30 days' +%Y-%m-%dT%H:%M:%SZ)" --sign-key "$signing_key"

# --- The launcher in a directory of its own, with settings that point at the local server.
cp "$bin/VantorLauncher" "$bin/launcher.en.qm" "$launcher_dir/"
cat > "$launcher_dir/launchersettings.ini" <<EOF
[URLS]
launcherConfiguration=$base/launcher.json
cdnDiagnosticsTrace=$base/cdn-cgi/trace
appendNocacheToPackageUrls=false

[DIRECTORIES]
packages=packages
settingsTarget=VantorOnlineClient_Data/Data/Settings

[FILES]
packageFile=package.json
partialPackageFile=partial-package.json
assetFile=assets.json
accountGroupFile=accountgroup.json

[TIMING]
waitNotificationTimeout=500
downloadErrorTimeout=10000
clientStartTimeout=30000

[OPTIONS]
skipVerification=false

[SECURITY]
publicKey=$public_key
EOF
printf '{"Key": "demo-group"}\n' > "$launcher_dir/accountgroup.json"
installed="$launcher_dir/packages/vantor"
record="$demo/client-starts.jsonl"
export VANTOR_SAMPLE_CLIENT_RECORD="$record"

summary() {
    say "Where everything went:"
    echo "    sample game source   $game"
    echo "    CDN folder           $cdn (launcher.json, hints.json, vantor/linux/package.json + chunks/, each document with its .sig)"
    echo "    signing key          $signing_key (its public half is publicKey in launchersettings.ini)"
    echo "    nginx                $web (configuration and logs/access.log)"
    echo "    launcher             $launcher_dir/VantorLauncher (log: VantorLauncher.log, settings: launchersettings.ini)"
    echo "    installed game       $installed"
    echo "    client starts        $record"
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    say "Starting the launcher: press the package's button to install, then again to play."
    status=0
    "$launcher_dir/VantorLauncher" "$@" || status=$?
    say "The launcher ended with exit code $status."
    summary
    exit "$status"
fi

say "No display: running the launcher headless with --first-launch."
export QT_QPA_PLATFORM=offscreen
status=0
timeout 900 "$launcher_dir/VantorLauncher" --first-launch "$@" || status=$?
say "The launcher ended with exit code $status."
summary
[ "$status" -eq 0 ] || fail "the launcher failed; see $launcher_dir/VantorLauncher.log"

# The launcher ends once the client has announced itself; check what it left behind.
[ -s "$record" ] || fail "the sample client was not started"
say "The sample client was started with: $(tail -n 1 "$record")"
grep -q -- '"--realm=demo","--package-is-up-to-date"' "$record" || fail "unexpected client arguments"
(cd "$game" && find . -type f) | while read -r file; do
    cmp -s "$game/$file" "$installed/$file" || fail "installed ${file#./} differs from the published one"
done
[ -f "$installed/package.json" ] && [ ! -e "$installed/partial-package.json" ] \
    || fail "the installation is not marked as complete"
[ -f "$installed/default" ] || fail "the sample game is not the default package"
[ -f "$installed/VantorOnlineClient_Data/Data/Settings/accountgroup.json" ] \
    || fail "the account group file was not copied into the game"
grep -q "refused" "$launcher_dir/VantorLauncher.log" && fail "the launcher refused a signed document"
[ -s "$launcher_dir/launchermetadata.json.sig" ] || fail "the stored configuration has no signature beside it"
say "Installed and verified: every file of the sample game matches, the full marker and the default marker are in place."
client_pid=$(tail -n 1 "$record" | sed -n 's/.*"pid":\([0-9]*\).*/\1/p')
if [ -n "$client_pid" ]; then
    while kill -0 "$client_pid" 2>/dev/null; do sleep 0.2; done
    say "The sample client has ended by itself."
fi
say "Demo finished."
