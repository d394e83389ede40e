#!/usr/bin/env bash
# run-on-sway.sh [--outputs N] [--input PROGRAM] [--no-portal] [--failing-grim] [NAME=VALUE...] -- COMMAND [ARGS...]
# Runs COMMAND with the environment additions inside a private headless Wayland session: sway (pixman
# renderer) with N outputs of 1280x720 (the second at scale 2, to the right of the first), Xwayland, a
# session bus, pipewire and the screenshot portal (xdg-desktop-portal with its wlr and gtk backends).
# PROGRAM gives the seat a keyboard and a pointer (kavrel-test-input), driven through the FIFO that
# KAVREL_TEST_INPUT names; --no-portal leaves the portal out; --failing-grim gives the wlr backend a grim that always fails, so
# that every screenshot request is refused. COMMAND gets WAYLAND_DISPLAY, SWAYSOCK, DISPLAY (Xwayland),
# DBUS_SESSION_BUS_ADDRESS and XDG_RUNTIME_DIR. Exits with 77 (skipped) when a package is missing.
set -u
# The portal's wlr backend writes every screenshot to /tmp/out.png: with root's rights each session gets a
# /tmp of its own, so that sessions running side by side cannot mix their pictures up.
if [ "$(id -u)" = 0 ] && [ -z "${KAVREL_SWAY_OWN_TMP:-}" ] && command -v unshare >/dev/null; then
  exec unshare --mount --propagation private env KAVREL_SWAY_OWN_TMP=1 "$0" "$@"
fi
if [ -n "${KAVREL_SWAY_OWN_TMP:-}" ]; then
  mount -t tmpfs -o mode=1777 tmpfs /tmp || exit 1
fi
outputs=1 portal=1 failing_grim=0 input=
envs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case "$1" in
    --outputs) outputs=$2; shift ;;
    --input) input=$2; shift ;;
    --no-portal) portal=0 ;;
    --failing-grim) failing_grim=1 ;;
    *) envs+=("$1") ;;
  esac
  shift
done
shift

for tool in sway swaymsg dbus-daemon Xwayland xhost; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done
libexec=/usr/libexec
if [ "$portal" = 1 ]; then
  for tool in pipewire grim "$libexec/xdg-desktop-portal" "$libexec/xdg-desktop-portal-wlr" "$libexec/xdg-desktop-portal-gtk"; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
  done
fi

dir=$(mktemp -d /tmp/kavrel-sway.XXXXXX)
rt=$dir/rt
mkdir -p "$rt" "$dir/home" "$dir/bin"
chmod 700 "$rt"
pids=()
cleanup() {
  SWAYSOCK=${SWAYSOCK:-} timeout 3 swaymsg exit >/dev/null 2>&1
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT

# sway refuses to run as root: the compositor runs as nobody, its clients (the tests) as the caller.
as_user=()
if [ "$(id -u)" = 0 ]; then
  chown 65534:65534 "$rt" "$dir/home"
  chmod 755 "$dir"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi

cat >"$dir/sway.conf" <<'EOF'
output HEADLESS-1 resolution 1280x720 position 0,0 scale 1 bg #203040 solid_color
output HEADLESS-2 resolution 1280x720 position 1280,0 scale 2 bg #402030 solid_color
xwayland enable
focus_follows_mouse no
# Windows float where they are put, so that a new one never rearranges the others.
for_window [title=".*"] floating enable
default_border none
default_floating_border none
EOF
# sway's children learn its Xwayland display from their environment.
echo "exec sh -c 'echo \"\$DISPLAY\" > $dir/home/display'" >>"$dir/sway.conf"
chmod 644 "$dir/sway.conf"

export XDG_RUNTIME_DIR=$rt XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway NO_AT_BRIDGE=1 GTK_USE_PORTAL=0
export DBUS_SESSION_BUS_ADDRESS=unix:path=$rt/bus
unset DISPLAY WAYLAND_DISPLAY SWAYSOCK
dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile >"$dir/dbus.log" 2>&1 &
pids+=($!)
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
  "${as_user[@]}" env HOME="$dir/home" sway -c "$dir/sway.conf" >"$dir/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do ls "$rt"/wayland-[0-9] >/dev/null 2>&1 && ls "$rt"/sway-ipc.*.sock >/dev/null 2>&1 && break; sleep 0.05; done
WAYLAND_DISPLAY=$(basename "$(ls "$rt"/wayland-[0-9] 2>/dev/null | head -n 1)")
SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock 2>/dev/null | head -n 1)
[ -n "$WAYLAND_DISPLAY" ] && [ -n "$SWAYSOCK" ] || { echo "sway did not start"; cat "$dir/sway.log"; exit 1; }
export WAYLAND_DISPLAY SWAYSOCK
for ((n = 2; n <= outputs; n++)); do swaymsg create_output >/dev/null; done
# The second output takes the settings above only once it exists.
[ "$outputs" -ge 2 ] && swaymsg output HEADLESS-2 resolution 1280x720 position 1280,0 scale 2 >/dev/null
if [ -n "$input" ]; then
  export KAVREL_TEST_INPUT=$dir/input
  mkfifo "$KAVREL_TEST_INPUT"
  # Held open for writing here, so that the program sees no end while the tests write one line at a time.
  exec 7<>"$KAVREL_TEST_INPUT"
  "$input" <"$KAVREL_TEST_INPUT" >"$dir/input.out" 2>"$dir/input.log" &
  pids+=($!)
  for _ in $(seq 100); do grep -q ready "$dir/input.out" && break; sleep 0.05; done
  grep -q ready "$dir/input.out" || { echo "no keyboard and pointer for the seat"; cat "$dir/input.log"; exit 1; }
fi

owned() {  # owned NAME: whether a program holds the name on the session bus
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
    "string:$1" 2>/dev/null | grep -q 'boolean true'
}
if [ "$portal" = 1 ]; then
  if [ "$failing_grim" = 1 ]; then
    printf '#!/bin/sh\nexit 1\n' >"$dir/bin/grim"
    chmod 755 "$dir/bin/grim"
  fi
  pipewire >"$dir/pipewire.log" 2>&1 &  # the wlr backend ends at once without it
  pids+=($!)
  for _ in $(seq 100); do [ -S "$rt/pipewire-0" ] && break; sleep 0.05; done
  dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP XDG_SESSION_TYPE XDG_RUNTIME_DIR NO_AT_BRIDGE
  PATH="$dir/bin:$PATH" "$libexec/xdg-desktop-portal-wlr" >"$dir/xdpw.log" 2>&1 &
  pids+=($!)
  # The gtk backend gives the portal its access dialogs; without one it offers no Screenshot.
  "$libexec/xdg-desktop-portal-gtk" >"$dir/xdpgtk.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do owned org.freedesktop.impl.portal.desktop.wlr && owned org.freedesktop.impl.portal.desktop.gtk && break; sleep 0.05; done
  "$libexec/xdg-desktop-portal" >"$dir/xdp.log" 2>&1 &
  pids+=($!)
  up=0
  for _ in $(seq 200); do
    # Only once the name is owned: introspecting an unowned name would start a second portal.
    owned org.freedesktop.portal.Desktop &&
      dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop /org/freedesktop/portal/desktop \
        org.freedesktop.DBus.Introspectable.Introspect 2>/dev/null | grep -q org.freedesktop.portal.Screenshot && { up=1; break; }
    sleep 0.05
  done
  [ "$up" = 1 ] || { echo "the screenshot portal did not start"; cat "$dir/xdp.log"; exit 1; }
fi

# Xwayland starts with the first X client; let the caller's X clients in once it runs.
for _ in $(seq 100); do [ -s "$dir/home/display" ] && break; sleep 0.05; done
display=$(cat "$dir/home/display" 2>/dev/null)
if [ -n "$display" ]; then
  export DISPLAY=$display
  for _ in $(seq 100); do "${as_user[@]}" env DISPLAY="$display" xhost "+SI:localuser:$(id -un)" >/dev/null 2>&1 && break; sleep 0.05; done
fi

env "${envs[@]}" "$@"
