#!/bin/sh
# Runs a test program in a D-Bus session of its own, with an unlocked gnome-keyring in a home of
# its own, for tests that lock the keyring (the keyring shared by the other tests stays as it is).
# Usage: dbus-run-session -- own_keyring.sh PROGRAM [ARGUMENTS...]
set -eu
# Nothing of the shared keyring may leak in, or the new daemon would join the shared one.
unset GNOME_KEYRING_CONTROL GNOME_KEYRING_PID SSH_AUTH_SOCK
scratch=$(mktemp -d)
export HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"
keyring_pid=
cleanup() {
    [ -n "$keyring_pid" ] && kill "$keyring_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
for assignment in $(printf 'own-keyring' | gnome-keyring-daemon --unlock --components=secrets --daemonize); do
    export "$assignment"
done
# The daemon started here is the one whose runtime folder is this run's, never another run's.
for pid in $(pgrep -u "$(id -u)" gnome-keyring-d || true); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"; then
        keyring_pid=$pid
    fi
done
OSTRAK_TEST_OWN_KEYRING=1 "$@"
