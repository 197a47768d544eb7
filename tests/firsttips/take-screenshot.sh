#!/usr/bin/env bash
# Takes the picture of the tips bubble beside a real desktop icon for the
# README: a desktop under Xvfb with an accessibility bus, a test home whose
# desktop holds launchers, the program pointing at one, the screen grabbed.
#   tests/firsttips/take-screenshot.sh [OUTPUT.png]   (default docs/firsttips-bubble.png)
# Needs what tools/install-deps.sh installs, and python3-pil for the grab.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(realpath -m "${1:-docs/firsttips-bubble.png}")
tips=$(realpath "${QV_BUILD_DIR:-build}/bin/qvFirsttips")
work=$(mktemp -d -t qvtips.XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill -- "-${pids[i]}" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
start() { setsid "$@" >>"$work/log" 2>&1 & pids+=($!); }

mkdir -p "$work/home/Desktop" "$work/home/.config/pcmanfm/default" "$work/run"
chmod 700 "$work/run"
printf '[Desktop Entry]\nType=Application\nName=文件搜索\nExec=true\nIcon=system-search\n' \
  > "$work/home/Desktop/qvsearch.desktop"
printf '[Desktop Entry]\nType=Application\nName=回收站\nExec=true\nIcon=user-trash\n' \
  > "$work/home/Desktop/trash.desktop"
echo note > "$work/home/Desktop/说明.txt"
printf '[*]\nwallpaper_mode=color\ndesktop_bg=#2d5f8b\ndesktop_fg=#ffffff\ndesktop_shadow=#000000\nshow_trash=0\nshow_mounts=0\n' \
  > "$work/home/.config/pcmanfm/default/desktop-items-0.conf"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config" LANG=C.UTF-8
unset WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS NO_AT_BRIDGE

exec 3>"$work/display"
start Xvfb -displayfd 3 -screen 0 640x360x24 -nolisten tcp -noreset
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
start dbus-daemon --session --nofork --print-address=1
for _ in $(seq 100); do grep -q '^unix:' "$work/log" 2>/dev/null && break; sleep 0.1; done
DBUS_SESSION_BUS_ADDRESS=$(grep -m1 '^unix:' "$work/log")
export DBUS_SESSION_BUS_ADDRESS
start /usr/libexec/at-spi-bus-launcher --launch-immediately
for _ in $(seq 100); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep -q 'boolean true' && break
  sleep 0.1
done
dbus-send --session --dest=org.a11y.Bus /org/a11y/bus org.freedesktop.DBus.Properties.Set \
  string:org.a11y.Status string:IsEnabled variant:boolean:true
GTK_MODULES=gail:atk-bridge start pcmanfm --desktop
sleep 3
QT_QPA_PLATFORM=xcb QV_FIRSTTIPS_DELAY_MS=0 start "$tips" 文件搜索 双击这个图标，就能立刻搜索电脑里的所有文件
sleep 2
/usr/bin/python3 -c "
import sys
from PIL import ImageGrab
ImageGrab.grab(xdisplay='$DISPLAY').save(sys.argv[1])
" "$out"
echo "screenshot: $out"
