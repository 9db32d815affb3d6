#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (60 unless given),
# starting from seeds made like the tests' own files. An input that makes a
# target fail is left in build/fuzz/findings/TARGET/; once it is mended, copy
# it to fuzz/regressions/KIND/ (mp3, mp4, chapters, cue, chapterfile, feed, catalogue), where the suite
# replays it.
#
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_mp3frames fuzz_mp4track fuzz_chaptermovie fuzz_chapterlist fuzz_cuesheet fuzz_chapterfile fuzz_feed fuzz_catalogue)

FABLEWICK_EXTRA_PACKAGES="clang libclang-rt-14-dev" "$here/scripts/install-deps.sh"
build="$here/build/fuzz"
CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DFABLEWICK_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

# Seeds: a few seconds of the audio the tests make, in each form the readers meet.
seeds="$build/seeds"
if [[ ! -d "$seeds" ]]; then
  mkdir -p "$seeds"/{mp3,mp4,chapters,cue,feed}
  tone() { ffmpeg -nostdin -v error -f lavfi -i "sine=frequency=440:sample_rate=$1:duration=$2" "${@:3}"; }
  tone 8000 0.5 -ac 1 -c:a libmp3lame -b:a 8k -id3v2_version 3 -metadata title=Seed "$seeds/mp3/lame.mp3"
  tone 22050 0.3 -ac 2 -c:a libmp3lame -b:a 32k -write_xing 0 "$seeds/mp3/noinfo.mp3"
  tone 8000 0.5 -ac 1 -c:a aac -b:a 16k "$seeds/mp4/plain.m4a"
  tone 8000 0.5 -ac 1 -c:a aac -b:a 16k -movflags +faststart "$seeds/mp4/faststart.m4a"
  printf ';FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=200\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=200\nEND=500\ntitle=Two\n' \
    > "$seeds/chapters.txt"
  tone 8000 0.5 -i "$seeds/chapters.txt" -map 0 -map_chapters 1 -ac 1 -c:a aac -b:a 16k \
    "$seeds/mp4/chapters.m4b"
  rm "$seeds/chapters.txt"
  printf '<?xml version="1.0" encoding="utf-8"?><chapters version="1"><chapter starttime="0:0.000"><title>One &amp; Two</title></chapter><chapter starttime="1:2.500"><title>Three</title></chapter></chapters>' \
    > "$seeds/chapters/list.xml"
  printf 'REM GENRE Audiobook\nFILE "01 Book.wav" WAVE\n  TRACK 01 AUDIO\n    TITLE "One"\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    TITLE "Two"\n    INDEX 00 03:58:70\n    INDEX 01 04:00:12\n' \
    > "$seeds/cue/book.cue"
  printf '<?xml version="1.0"?>\n<envelope><update app="Fablewick"/><update time="2026-12-01"/><update build="2.0"/><update url="http://fablewick.org/d"/><update id="1" desc="Faster"/></envelope>\n' \
    > "$seeds/feed/feed.xml"
fi

# Chapter files to import, each led by the byte that picks its form.
if [[ ! -d "$seeds/chapterfile" ]]; then
  mkdir -p "$seeds/chapterfile"
  printf '\000## title: Book\n00:00:00.000 One\n00:04:19.153 Two\n' > "$seeds/chapterfile/chapters.txt"
  printf '\001;FFMETADATA1\ntitle=Book\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=4000\ntitle=One \\= a\n' \
    > "$seeds/chapterfile/ffmetadata.txt"
  printf '\002FILE "Book.m4b" MP4\n  TRACK 01 AUDIO\n    TITLE "One"\n    INDEX 01 00:00:00\n' \
    > "$seeds/chapterfile/book.cue"
fi

# Catalogues' answers, led by the byte that picks whose.
if [[ ! -d "$seeds/catalogue" ]]; then
  mkdir -p "$seeds/catalogue"
  cp "$here"/fuzz/regressions/catalogue/*.json "$seeds/catalogue/"
fi

declare -A corpus=([fuzz_mp3frames]=mp3 [fuzz_mp4track]=mp4 [fuzz_chaptermovie]=mp4
                   [fuzz_chapterlist]=chapters [fuzz_cuesheet]=cue [fuzz_chapterfile]=chapterfile
                   [fuzz_feed]=feed [fuzz_catalogue]=catalogue)
status=0
for target in "${targets[@]}"; do
  work="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$work" "$findings"
  echo "== $target, ${seconds}s"
  regressions="$here/fuzz/regressions/${corpus[$target]}"
  [[ -d "$regressions" ]] || regressions=
  if ! "$build/fuzz/$target" "$work" "$seeds/${corpus[$target]}" $regressions \
      -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 -timeout=10 \
      -artifact_prefix="$findings/" -print_final_stats=1 2>"$build/$target.log"; then
    status=1
    tail -n 40 "$build/$target.log"
    echo "== $target failed; the input is in $findings" >&2
  else
    grep -E '^stat::number_of_executed_units|^Done' "$build/$target.log" || true
  fi
done
exit $status
