#!/bin/bash
# Runs the ledger's windows program on a private X server, drives it with
# xdotool like a user would, and saves screenshots.
#   run_windows.sh PROGRAM OUTDIR
set -u
# The scenario waits fixed times for the window system to catch up; on a
# loaded machine that can be too short.  A failed first attempt runs once
# more with every pause doubled before the test counts as failed.
if [ -z "${QW_GUI_ATTEMPT:-}" ]; then
  QW_GUI_ATTEMPT=1 "$0" "$@" && exit 0
  echo "first attempt failed; running once more with longer pauses"
  QW_GUI_ATTEMPT=2 exec "$0" "$@"
fi
pause() { sleep "$(awk -v s="$1" -v k="$QW_GUI_ATTEMPT" 'BEGIN { print s * k }')"; }
prog=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=
app_pid=
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

"$prog" >"$work/stdout" 2>"$work/stderr" &
app_pid=$!

# The visible top-level window of the given size, if any.
window_of_size() {
  local id
  for id in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    if xdotool getwindowgeometry "$id" 2>/dev/null | grep -q "Geometry: $1\$"; then
      echo "$id"
      return 0
    fi
  done
  return 1
}
wait_window() {
  local id
  for _ in $(seq 100); do
    id=$(window_of_size "$1") && { echo "$id"; return 0; }
    sleep 0.05
  done
  return 1
}
alive() { kill -0 "$app_pid" 2>/dev/null || fail "the program ended: $(cat "$work/stderr")"; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; pause 0.3; }
shot() { import -window "$1" "$out/$2"; }

win1=$(wait_window 300x250) || fail "Vardel's Window did not appear"
[ "$(xdotool getwindowname "$win1")" = "Vardel's Window" ] || fail "window 1 title"
pause 0.3
shot "$win1" ledger-window1.png

# Escape is swallowed: the window stays.
xdotool key --window "$win1" Escape 2>/dev/null
pause 0.3
alive
window_of_size 300x250 >/dev/null || fail "Escape closed window 1"

# "General Ledger" opens window 2.
click "$win1" 42 117
win2=$(wait_window 625x580) || fail "window 2 did not appear"
pause 0.3

# ChartOfAccounts -> Open shows the chart: the title, then the second item.
click "$win2" 40 12
xdotool key Down Down Return
pause 0.4
alive
# An account line of the list (line 3) fills the details.
click "$win2" 60 335
click "$win2" 60 335
# A new unit price, then "Okay"; the account is read again to show it.
click "$win2" 170 240
xdotool key ctrl+a
xdotool type --delay 20 "12.345678"
click "$win2" 560 240
alive
click "$win2" 60 335
pause 0.3
shot "$win2" ledger-window2-details.png
# "Cancel" goes back to the account list.
click "$win2" 500 240
pause 0.3
shot "$win2" ledger-window2.png

# F5 in window 2 brings up the message window.
xdotool key --window "$win2" F5 2>/dev/null
msg=$(wait_window 300x60) || fail "F5 did not show the message window"
shot "$msg" ledger-message.png
alive
echo "screenshots in $out"
exit 0
