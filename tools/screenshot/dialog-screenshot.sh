#!/usr/bin/env bash
# Takes a screenshot of the live dialog with two beacons bound, for the
# README. Everything runs inside a private network namespace made by the test
# harness, on a virtual X display.
#
#   tools/screenshot/dialog-screenshot.sh OUT.png [BUILD_DIR]
#
# Needs root (for the namespace), Xvfb and ImageMagick's import.
set -euo pipefail
out=$(realpath -m "${1:?output png}")
build=$(realpath "${2:-build}")
here=$(cd "$(dirname "$0")" && pwd)
program=$build/shell/qt/varnwin32
beacon=$build/tools/varn-beacon
for f in "$program" "$beacon"; do
  [ -x "$f" ] || { echo "dialog-screenshot: $f is not built (cmake --build $build)" >&2; exit 2; }
done

if [ "${VARN_IN_NETNS:-}" != 1 ]; then
  exec env VARN_IN_NETNS=1 "$here/../../tests/netns/run-in-netns.sh" private "$0" "$out" "$build"
fi

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 1 100); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done

DISPLAY=$display "$program" >/dev/null 2>&1 &
pids+=($!)
"$beacon" announce --from 10.0.0.9 --interface 10.0.0.9 --name "pump 3" --location "hall 2" \
  --ping-target 10.1.2.1 --health 2 --rate 2 --duration 8 --quiet >/dev/null &
pids+=($!)
"$beacon" announce --from 10.0.0.10 --interface 10.0.0.10 --name "boiler feed" --location "hall 4" \
  --ping-target 10.1.2.30 --health 0 --rate 2 --duration 8 --quiet >/dev/null &
pids+=($!)

# Long enough for both beacons to be bound and refreshed and for the first
# watchdog tick to have aged the free slot.
sleep 7
DISPLAY=$display import -window "Varn Win32" "$out"
echo "dialog-screenshot: wrote $out"
