#!/usr/bin/env bash
# Installs the app into a temporary prefix; checks --help/--version and the refusal without a
# display; starts it in a private X server (Xvfb), waits for its window "plovik" to appear,
# checks that a second launch ends at once leaving the one window, then asks it to quit with
# SIGTERM and expects exit status 0.
# Usage: desktop_smoke_test.sh BUILD_DIR
set -euo pipefail
build=$1
for tool in Xvfb xwininfo; do
    command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps installs it)"; exit 1; }
done
work=$(mktemp -d)
xvfb=
app=
finish() {
    [ -n "$app" ] && kill -KILL "$app" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/home"
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR="$work/run"
export HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" XDG_CONFIG_HOME="$work/home/.config"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DISPLAY

# Without a display: --help and --version answer, anything else is one line and status 1.
program="$work/prefix/bin/OstrakDesktop"
export ASAN_OPTIONS=detect_leaks=0
version=$("$program" --version)
[[ "$version" == "OstrakDesktop "[0-9]* ]] || { echo "--version printed: $version"; exit 1; }
"$program" --help | grep -q -- "--version" || { echo "--help does not list --version"; exit 1; }
status=0
"$program" 2>"$work/no-display.log" || status=$?
[ "$status" -eq 1 ] && [ "$(wc -l <"$work/no-display.log")" -eq 1 ] ||
    { echo "without a display: status $status"; cat "$work/no-display.log"; exit 1; }

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

ASAN_OPTIONS=detect_leaks=0 "$program" >"$work/app.log" 2>&1 &
app=$!
appeared=
for _ in $(seq 300); do
    if xwininfo -root -tree 2>/dev/null | grep -qE '"plovik".* (9[0-9]{2}|1[0-9]{3})x[0-9]{3}'; then appeared=yes; break; fi
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$appeared" ]; then
    echo "the window did not appear"; cat "$work/app.log"; exit 1
fi
echo "window appeared: $(xwininfo -root -tree | grep -E '"plovik".* [0-9]{3,}x' | head -n1)"

# The desktop entry's StartupWMClass names the window's class, so docks group it with the entry.
window=$(xwininfo -root -tree | grep -E '"plovik".* (9[0-9]{2}|1[0-9]{3})x[0-9]{3}' | head -n1 | awk '{print $1}')
wm_class=$(xprop -id "$window" WM_CLASS)
startup_class=$(sed -n 's/^StartupWMClass=//p' "$work/prefix/share/applications/cn.trenzo.workstation.desktop")
[[ "$wm_class" == *"\"$startup_class\""* ]] ||
    { echo "StartupWMClass=$startup_class does not match $wm_class"; exit 1; }

# A second launch brings the first window forward and ends with 0; no second window appears.
second=0
timeout 20 "$program" >"$work/second.log" 2>&1 || second=$?
[ "$second" -eq 0 ] || { echo "the second launch ended with $second"; cat "$work/second.log"; exit 1; }
sleep 1
windows=$(xwininfo -root -tree | grep -cE '"plovik".* (9[0-9]{2}|1[0-9]{3})x[0-9]{3}')
[ "$windows" -eq 1 ] || { echo "$windows main windows after a second launch"; exit 1; }
kill -0 "$app" || { echo "the first app ended"; exit 1; }
kill -TERM "$app"
status=0
wait "$app" || status=$?
app=
echo "OstrakDesktop exited with $status"
[ "$status" -eq 0 ] || { cat "$work/app.log"; exit 1; }
