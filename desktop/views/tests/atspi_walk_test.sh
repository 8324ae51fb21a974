#!/usr/bin/env bash
# The installed app on a private X screen and a private accessibility bus, walked through AT-SPI
# by atspi_walk.py (what a screen reader such as Orca reads), with Tab and Enter as key events.
# Usage: dbus-run-session -- atspi_walk_test.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in Xvfb xdotool /usr/bin/python3 /usr/libexec/at-spi-bus-launcher dbus-update-activation-environment; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps installs it)"; exit 1; }
done
/usr/bin/python3 -c 'import pyatspi' || { echo "python3-pyatspi is missing (scripts/install-deps installs it)"; exit 1; }
work=$(mktemp -d)
pids=()
finish() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap finish EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/home"
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run" HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CONFIG_HOME="$work/home/.config" ASAN_OPTIONS=detect_leaks=0
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
dbus-update-activation-environment DISPLAY HOME XDG_RUNTIME_DIR XDG_DATA_HOME XDG_CONFIG_HOME
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
pids+=($!)

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 "$work/prefix/bin/OstrakDesktop" >"$work/app.log" 2>&1 &
pids+=($!)
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^plovik$' | head -n1) ||
    { echo "the window did not appear"; cat "$work/app.log"; exit 1; }
xdotool windowfocus --sync "$window"
status=0
/usr/bin/python3 "$here/atspi_walk.py" || status=$?
[ "$status" -eq 0 ] || { echo "app log:"; cat "$work/app.log"; }
exit "$status"
