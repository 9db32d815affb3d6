#!/usr/bin/env bash
# Runs clang-tidy with the project's .clang-tidy over our own sources, using
# the compile commands of the test build (made by ./test.sh). Extra arguments
# go to run-clang-tidy, for example -fix.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build/asan"
FABLEWICK_EXTRA_PACKAGES="clang-tidy" "$here/scripts/install-deps.sh"
if ! command -v run-clang-tidy >/dev/null; then
  echo "clang-tidy is not installed; install the Debian package clang-tidy (apt-get install clang-tidy)." >&2
  exit 1
fi
if [[ ! -f "$build/compile_commands.json" ]]; then
  echo "No compile commands yet: run ./test.sh first, which builds $build." >&2
  exit 1
fi
# clang cannot read GCC's precompiled headers: the files are checked as
# they are written, each with its own includes.
commands=$(mktemp -d)
trap 'rm -rf "$commands"' EXIT
sed -E 's/ -Winvalid-pch//g; s/ -include [^ ]*cmake_pch\.hxx//g' "$build/compile_commands.json" \
  >"$commands/compile_commands.json"
run-clang-tidy -p "$commands" -j "$(nproc)" -quiet "$@" \
  "^$here/(app|book|catalogue|draft|run|cli|media|process|workers|platform|update|chaptertool|tools)/[^/]*\.cpp\$"
