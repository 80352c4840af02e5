#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo: a sample game published into a local CDN
# folder, served by nginx on 127.0.0.1, installed and started by the launcher (see scripts/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-dependencies.sh
scripts/build.sh
exec scripts/demo.sh "$@"
