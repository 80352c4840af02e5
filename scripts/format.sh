#!/usr/bin/env bash
# Formats the project's C++ sources with the root .clang-format. Only .cpp and .h files are
# touched: CMake files, scripts and documents keep their own layout.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z -- '*.cpp' '*.h' | xargs -0 clang-format -i --style=file
