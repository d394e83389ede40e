#!/usr/bin/env bash
# run-on-xvfb.sh DEPTH WM [NAME=VALUE...] -- COMMAND [ARGS...]
# Runs COMMAND with the environment additions on a private Xvfb screen of 1920x1080 pixels at DEPTH
# bits, with openbox when WM is "openbox" and without a window manager when it is "none". With
# KAVREL_TEST_MONITORS=N among the additions the screen is N monitors side by side (RandR monitors, which
# Xinerama reports too). Exits with 77 (skipped) when Xvfb or openbox is not installed.
set -u
depth=$1 wm=$2
shift 2
envs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do envs+=("$1"); shift; done
shift

command -v Xvfb >/dev/null || { echo "Xvfb is not installed: skipped"; exit 77; }
if [ "$wm" = openbox ]; then command -v openbox >/dev/null || { echo "openbox is not installed: skipped"; exit 77; }; fi

fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 "1920x1080x$depth" -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 20 number <"$fifo"
rm -f "$fifo"
[ -n "${number:-}" ] || { echo "Xvfb did not start"; kill "$xvfb" 2>/dev/null; exit 1; }
export DISPLAY=":$number"
for e in "${envs[@]}"; do
  case $e in
    KAVREL_TEST_MONITORS=*)
      n=${e#*=} width=$((1920 / ${e#*=}))
      command -v xrandr >/dev/null || { echo "xrandr is not installed: skipped"; kill "$xvfb"; exit 77; }
      for i in $(seq 0 $((n - 1))); do
        # The first monitor takes the screen's output; the others have none.
        xrandr --setmonitor "kavrel-$i" "$width/254x1080/286+$((i * width))+0" "$([ "$i" = 0 ] && echo screen || echo none)" >/dev/null
      done
      ;;
  esac
done
wm_pid=
if [ "$wm" = openbox ]; then
  openbox >/dev/null 2>&1 &
  wm_pid=$!
  # Wait until the window manager has taken the screen.
  for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
fi
env "${envs[@]}" "$@"
status=$?
[ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
kill "$xvfb" 2>/dev/null
wait 2>/dev/null
exit $status
