#!/usr/bin/env bash
# fablewick-book on a long book: chapters found by silence in HOURS (10 by
# default) of tone with a pause every five minutes, against the window's 13 s
# on 2 cores; and a tag written into it, against cp then mv of the same file.
# Usage: bench/bench_bookverbs.sh BUILD [HOURS]
set -euo pipefail
build=${1:?the build folder, such as build/release}
hours=${2:-10}
book_tool="$build/bin/fablewick-book"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$((hours * 3600))
echo "making a ${hours}-hour book..."
ffmpeg -v error -f lavfi -i "sine=f=220:sample_rate=22050:d=$seconds" \
  -af "volume='if(lt(mod(t,300),297),1,0)':eval=frame" -ac 1 -c:a aac -b:a 32k "$work/Long.m4b"
ls -l "$work/Long.m4b"

elapsed() { local start=$(date +%s.%N); "$@" >/dev/null; echo "$(date +%s.%N) - $start" | bc; }
silence=$(elapsed "$book_tool" chapters "$work/Long.m4b" --find-silence --shortest 60 --json)
# A copy moved back over the book, as a save that never writes the book in
# place must do: mv's part is freeing the book's old blocks.
copy=$(elapsed sh -c "cp '$work/Long.m4b' '$work/Copy.m4b' && mv '$work/Copy.m4b' '$work/Long.m4b'")
tag=$(elapsed "$book_tool" tag "$work/Long.m4b" --narrator "Someone Else")
printf 'chapters --find-silence  %8.2f s   (the window: 13 s on 2 cores)\n' "$silence"
printf 'tag                      %8.2f s\n' "$tag"
printf 'cp then mv               %8.2f s   (tag / copy: %.2f)\n' "$copy" "$(echo "$tag / $copy" | bc -l)"
