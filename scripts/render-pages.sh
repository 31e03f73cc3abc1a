#!/usr/bin/env bash
# Renders every wizard page to a PNG: scripts/render-pages.sh [BUILD_DIR] [OUTPUT_DIR].
# Uses Xvfb when it is installed (the real X11 platform), else Qt's offscreen platform.
set -euo pipefail

build=${1:-build}
out=${2:-$build/pages}
ninja -C "$build" tarnwell-render-pages >/dev/null
tool="$build/tests/gui/tarnwell-render-pages"

if command -v Xvfb >/dev/null 2>&1 && [ "${RENDER_OFFSCREEN:-0}" != 1 ]; then
  display=:$((90 + RANDOM % 100))
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
  done
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$tool" "$out"
else
  QT_QPA_PLATFORM=offscreen "$tool" "$out"
fi
