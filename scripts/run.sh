#!/usr/bin/env bash
# Installs what is missing, builds and starts the dashboard. Without a display it starts the
# program under Xvfb, waits until its first window is shown, saves a screenshot, says where it is
# and stops the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
[ -x scripts/setup-datasource.sh ] && scripts/setup-datasource.sh

program="$PWD/build/default/quorvane"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program"
fi

shot="${SCREENSHOT:-$PWD/build/screenshot.png}"
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$program" &
app=$!
shown=""
for _ in $(seq 100); do
  if xwininfo -root -tree 2>/dev/null | grep -qE '"(FormHalvorn|FormLinkFile)"'; then
    shown=yes
    break
  fi
  kill -0 $app 2>/dev/null || break
  sleep 0.1
done
if [ -z "$shown" ]; then
  echo "The program showed no window." >&2
  kill $app 2>/dev/null || true
  exit 1
fi
sleep 1 # let the first paint finish
import -window root "$shot"
kill $app 2>/dev/null || true
wait $app 2>/dev/null || true
echo "No display: the program ran under Xvfb. Screenshot of its first window: $shot"
