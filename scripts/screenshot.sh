#!/bin/sh
# Saves PNG pictures of the main window (with a filled list), the options
# editor and the about box into a folder, on a virtual X display, then
# compacts copies of the sample documents and pictures the main window
# during that run (running.png) and after it (finished.png):
#   scripts/screenshot.sh <folder> [build folder]
set -eu
if [ $# -lt 1 ]; then
  echo "usage: $0 <folder> [build folder]" >&2
  exit 2
fi
out=$1
build=${2:-build}
here=$(cd "$(dirname "$0")/.." && pwd)
case $build in /*) ;; *) build=$here/$build ;; esac

if [ ! -f "$build/build.ninja" ] && [ ! -f "$build/Makefile" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target lp_screenshot -j 2 >/dev/null
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1400x900x24" \
  env QT_QPA_PLATFORM=xcb "$build/tools/lp_screenshot" "$out" "$here/examples/documents"
