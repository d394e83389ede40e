#!/usr/bin/env bash
# bench/compare-capture.sh [BUILD_DIR]: whole-process desktop captures of a 1920x1080 screen, timed with
# hyperfine in one run each: kavrel-cli on headless sway (the compositor's own copy, and through the
# screenshot service) next to grim writing PNG, and kavrel-cli on Xvfb next to ImageMagick's import.
# Every tool writes a real file to /dev/shm. Needs the packages of scripts/lib.sh and hyperfine.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
cli=$build/tools/kavrel-cli/kavrel-cli
window=$build/tests/capture/kavrel-test-window
for tool in hyperfine "$cli" "$window"; do command -v "$tool" >/dev/null || { echo "missing: $tool"; exit 1; }; done
out=/dev/shm/kavrel-capture-bench
mkdir -p "$out"
# Medians of a hyperfine JSON export, and each one's ratio to the first command's.
medians() {
  python3 -c '
import json, sys
runs = json.load(open(sys.argv[1]))["results"]
first = runs[0]["median"]
for r in runs:
    print("%8.1f ms  %5.2fx  %s" % (r["median"] * 1000, r["median"] / first, r["command"]))' "$1"
}

echo "== Wayland (headless sway, 1920x1080)"
"$root/tests/capture/run-on-sway.sh" -- bash -c "
  swaymsg output HEADLESS-1 resolution 1920x1080 >/dev/null; sleep 0.5
  '$window' pattern scene >/dev/null & sleep 1
  swaymsg '[title=scene] resize set 1200 800, move absolute position 300 100' >/dev/null; sleep 0.5
  hyperfine -N -w 3 -r 30 --style none --export-json $out/wayland.json \
    'grim $out/grim.png' \
    '$cli capture desktop -o $out/wayland.png --no-clipboard' \
    'env KAVREL_WAYLAND_CAPTURE=portal $cli capture desktop -o $out/portal.png --no-clipboard'
  kill %1" >/dev/null 2>&1
medians "$out/wayland.json"

echo "== X11 (Xvfb, 1920x1080)"
"$root/tests/capture/run-on-xvfb.sh" 24 none -- bash -c "
  '$window' pattern scene >/dev/null & sleep 1
  hyperfine -N -w 3 -r 30 --style none --export-json $out/x11.json \
    'import -window root $out/import.png' \
    '$cli capture desktop -o $out/x11.png --no-clipboard'
  kill %1" >/dev/null 2>&1
medians "$out/x11.json"
rm -rf "$out"
