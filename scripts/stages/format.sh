#!/usr/bin/env bash
# Every C and C++ source is formatted as .clang-format says.
set -euo pipefail
cd "$(dirname "$0")/../.."
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "format: every source as .clang-format says"
