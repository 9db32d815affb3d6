#!/usr/bin/env bash
# Builds Fablewick (installing what is missing) and starts it.
# Any arguments are MP3 files to open with the application.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh"
cmake -S "$here" -B "$here/build/release" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$here/build/release" --target fablewick
files=()
for f in "$@"; do files+=("$(realpath -s -- "$f")"); done
exec "$here/build/release/bin/fablewick" "${files[@]}"
