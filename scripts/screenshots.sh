#!/usr/bin/env bash
# Takes the README's screenshots of both windows on a virtual X server
# (Xvfb), driving them from the keyboard as a technician would:
#   KTQUpdate_Cascade: opens the virtual converter, updates its firmware
#                      from a generated image, shows the completion alert,
#                      then the window after the update;
#   KTQUpdate:         opens the virtual converter.
# Needs xvfb-run, xdotool and ImageMagick's import; the programs must be
# built (build/bin, or BIN=...). Writes docs/screenshots/*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in xvfb-run xdotool import; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: needs $tool (apt-get install xvfb xauth xdotool imagemagick)" >&2; exit 1; }
done
if [ -z "${KTQ_SCREENSHOT_DISPLAY:-}" ]; then
  exec env KTQ_SCREENSHOT_DISPLAY=1 xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi

bin=${BIN:-build/bin}
out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A type-5 image: 0x50000 bytes.
head -c $((0x50000)) /dev/urandom > "$work/fw.fullrom"

start() {  # program scenario -> window id in $wid
  "$bin/$1" --simulate="$2" 2>/dev/null &
  pid=$!
  wid=$(xdotool search --sync --onlyvisible --name "^$1" | head -1)
  sleep 0.5
  xdotool windowfocus --sync "$wid"
}

stop() {
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
}

# Waits until a window titled $1 other than the main one is visible; its id
# in $dialog.
wait_dialog() {
  for _ in $(seq 100); do
    dialog=$(xdotool search --onlyvisible --name "$1" | grep -v "^$wid\$" | head -1 || true)
    [ -n "$dialog" ] && return 0
    sleep 0.1
  done
  echo "screenshots.sh: no window '$1' appeared" >&2
  exit 1
}

start KTQUpdate_Cascade sim/scenarios/cascade-type5.json
xdotool key alt+o
sleep 1
xdotool key alt+f                       # Update Firmware...
wait_dialog "Select Firmware file"
sleep 0.5
xdotool windowfocus --sync "$dialog"
xdotool type --delay 5 "$work/fw.fullrom"
xdotool key Return
wait_dialog "KTQUpdate_Cascade"         # the confirmation
sleep 0.5
xdotool windowfocus --sync "$dialog"
xdotool key Return                      # OK
for _ in $(seq 300); do                 # the completion alert
  sleep 0.2
  done_alert=$(xdotool search --onlyvisible --name "KTQUpdate_Cascade" | grep -v "^$wid\$" | head -1 || true)
  [ -n "$done_alert" ] && [ "$done_alert" != "$dialog" ] && break
done
sleep 0.5
import -window "$done_alert" "$out/update-complete.png"
xdotool windowfocus --sync "$done_alert"
xdotool key Return
sleep 0.5
import -window "$wid" "$out/KTQUpdate_Cascade.png"
stop

start KTQUpdate sim/scenarios/type6-converter.json
xdotool key alt+o
sleep 1
import -window "$wid" "$out/KTQUpdate.png"
stop
echo "Wrote $out/KTQUpdate_Cascade.png, $out/update-complete.png, $out/KTQUpdate.png"
