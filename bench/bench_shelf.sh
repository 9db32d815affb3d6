#!/usr/bin/env bash
# A shelf of small books made by one fablewick-make --each, against the sum
# of making each book alone with its own fablewick-make. The goal: no more
# than 1.1 times the sum.
#   bench/bench_shelf.sh [BUILD] [BOOKS] [FILES PER BOOK] [SECONDS PER FILE]
set -euo pipefail
build=${1:-build/release}
books=${2:-20}
files=${3:-3}
seconds=${4:-20}
make="$build/bin/fablewick-make"
[[ -x "$make" ]] || { echo "No $make: build it first." >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for ((b = 1; b <= books; b++)); do
  mkdir -p "$work/shelf/Book $b"
  for ((f = 1; f <= files; f++)); do
    ffmpeg -v error -f lavfi -i "sine=frequency=$((200 + 37 * b + 11 * f)):duration=$seconds" \
      -ac 1 -ar 22050 -b:a 32k -metadata album="Book $b" "$work/shelf/Book $b/$f.mp3"
  done
done
now() { date +%s.%N; }
start=$(now)
for ((b = 1; b <= books; b++)); do
  "$make" -o "$work/alone/Book $b.m4b" "$work/shelf/Book $b" >/dev/null
done
alone=$(echo "$(now) - $start" | bc)
start=$(now)
"$make" --each "$work/shelf" --out "$work/together" >/dev/null
together=$(echo "$(now) - $start" | bc)
made=$(ls "$work/together" | wc -l)
printf 'books: %d of %d files of %d s\n' "$made" "$files" "$seconds"
printf 'each alone, summed: %.2f s\nthe shelf at once:  %.2f s\nratio: %.2f (goal: at most 1.10)\n' \
  "$alone" "$together" "$(echo "$together / $alone" | bc -l)"
