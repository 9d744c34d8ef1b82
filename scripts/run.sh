#!/usr/bin/env bash
# Installs what building and running need (scripts/packages/build.txt and run.txt, no test servers),
# builds the program, publishes one image with the current settings and, when
# there is a display, starts the program's window. Arguments are passed to the window's start.
set -euo pipefail
here=$(pwd)
cd "$(dirname "$0")/.."
bash scripts/setup.sh build run
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target webcam-zantrel
program=$(pwd)/build/webcam-zantrel
cd "$here"
echo "Publishing one image..."
if "$program" --once; then
  echo "Published: the image is IMAGE/FILENAME of the settings (webcam.jpg by default) in $here."
else
  echo "The image or an upload failed; see the lines above."
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$program" "$@"
else
  echo "No display: the window is not opened. Run build/webcam-zantrel on a desktop session."
fi
