#!/usr/bin/env bash
# Makes the Debian package from a release build (build/package, or the build
# folder given), and checks it: the files it must hold, its dependencies, and
# lintian, which must find no error. Prints the package's path.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/package}
FABLEWICK_EXTRA_PACKAGES="dpkg-dev file lintian" scripts/install-deps.sh
for tool in cpack dpkg-deb dpkg-shlibdeps file lintian; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: run scripts/install-deps.sh as root, or apt-get install cmake dpkg-dev file lintian" >&2
    exit 1
  fi
done
if [[ ! -f "$build/build.ninja" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
cmake --build "$build"
rm -f "$build"/fablewick_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/fablewick_*.deb)

contents=$(dpkg-deb --contents "$deb")
for path in usr/bin/fablewick usr/bin/fablewick-make usr/share/man/man1/fablewick-make.1.gz \
    usr/bin/fablewick-book usr/share/man/man1/fablewick-book.1.gz \
    usr/share/bash-completion/completions/fablewick-book usr/lib/systemd/user/fablewick-watch.service \
    usr/libexec/fablewick/ChapterTool \
    usr/share/fablewick/ChapterTool usr/share/fablewick/MainWindow.ui \
    usr/share/fablewick/fablewick.png usr/share/fablewick/ffmpeg \
    usr/share/fablewick/AtomicParsley usr/share/applications/fablewick.desktop \
    usr/share/icons/hicolor/256x256/apps/fablewick.png usr/share/man/man1/fablewick.1.gz \
    usr/share/doc/fablewick/copyright usr/share/doc/fablewick/changelog.gz; do
  if ! grep -q " \./$path\( \|$\)" <<<"$contents"; then
    echo "The package lacks /$path." >&2
    exit 1
  fi
done
depends=$(dpkg-deb --field "$deb" Depends)
for package in ffmpeg mp3info atomicparsley libqt6widgets6 libtag1v5; do
  if ! grep -q "\b$package\b" <<<"$depends"; then
    echo "The package does not depend on $package: $depends" >&2
    exit 1
  fi
done
lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >&2
echo "$deb"
