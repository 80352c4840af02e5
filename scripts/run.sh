#!/usr/bin/env bash
# Installs what is missing, builds, and starts the launcher.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh
launcher="${BUILD_DIR:-build}/bin/VantorLauncher"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display found: running the launcher in a virtual X server (Ctrl+C ends it)."
    exec xvfb-run -a "$launcher" "$@"
fi
exec "$launcher" "$@"
