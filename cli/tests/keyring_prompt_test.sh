#!/bin/sh
# A fresh account's keyring, answered through its own prompt: a private D-Bus session with a
# gnome-keyring that has no login collection yet, its prompter (gcr-prompter) on a private Xvfb
# screen, and the prompt answered by key events (xdotool), as a person would.
#   1. Saving a key asks the keyring to create its default collection: a password is chosen
#      in the prompt, and the key is saved.
#   2. With the collection locked, saving asks to unlock it: the password is typed, the key saved.
#   3. Locked again, `plovik status` reports the key stored without a prompt appearing (a look
#      is no reason to ask for the password).
#   4. Still locked, the prompt dismissed with Escape: the save is refused with its message.
# Usage: dbus-run-session -- keyring_prompt_test.sh PLOVIK
set -eu
plovik=$1
for tool in Xvfb xdotool gnome-keyring-daemon gdbus dbus-update-activation-environment \
    /usr/libexec/gcr-prompter; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        [ "${CI:-}" = true ] && { echo "missing $tool (scripts/install-deps test installs it)" >&2; exit 1; }
        echo "skipped: $tool is missing"
        exit 77
    fi
done

scratch=$(mktemp -d)
xvfb_pid=
keyring_pid=
cleanup() {
    [ -n "$keyring_pid" ] && kill "$keyring_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    chmod -R u+rwx "$scratch" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
# Nothing of the shared keyring may leak in, or the new daemon would join it.
unset GNOME_KEYRING_CONTROL GNOME_KEYRING_PID SSH_AUTH_SOCK
export HOME="$scratch/home" XDG_DATA_HOME="$scratch/home/.local/share"
export XDG_CONFIG_HOME="$scratch/home/.config" XDG_RUNTIME_DIR="$scratch/run"
mkdir -p "$HOME"
mkdir -m 700 "$XDG_RUNTIME_DIR"

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$scratch/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$scratch/display")"
# The prompter is started by the bus: it must see this screen and home.
dbus-update-activation-environment DISPLAY HOME XDG_DATA_HOME XDG_CONFIG_HOME XDG_RUNTIME_DIR
for assignment in $(gnome-keyring-daemon --components=secrets --daemonize); do
    export "$assignment"
done
# The daemon started here is the one whose runtime folder is this run's.
for pid in $(pgrep -u "$(id -u)" gnome-keyring-d || true); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR"; then
        keyring_pid=$pid
    fi
done

fail() {
    echo "keyring_prompt_test: $*" >&2
    exit 1
}

# Starts `plovik key set deepseek` with the key on standard input, waits for the keyring's
# prompt, answers it with the keys given (xdotool arguments, "type TEXT" or "key NAME"), and
# leaves the outcome in $status and $said.
save_answering() {
    key=$1
    shift
    printf '%s\n' "$key" | "$plovik" key set deepseek >"$scratch/said" 2>&1 &
    saver=$!
    prompt=$(timeout 30 xdotool search --sync --onlyvisible --class gcr-prompter) ||
        fail "no prompt appeared"
    prompt=$(printf '%s\n' "$prompt" | head -n 1)
    sleep 2  # the prompt maps its fields and takes the keyboard
    # With no window manager the keyboard goes where the pointer is: given to the prompt, so
    # that no key is lost on a busy machine where it maps late.
    xdotool windowfocus --sync "$prompt" 2>/dev/null || true
    while [ $# -gt 0 ]; do
        case $1 in
            type) xdotool type --delay 20 "$2" ;;
            key) xdotool key "$2" ;;
        esac
        shift 2
    done
    status=0
    wait "$saver" || status=$?
    said=$(cat "$scratch/said")
}

lock_keyring() {
    gdbus call --session --dest org.freedesktop.secrets --object-path /org/freedesktop/secrets \
        --method org.freedesktop.Secret.Service.Lock "['/org/freedesktop/secrets/aliases/default']" \
        >/dev/null
}

"$plovik" create 提示 --at "$scratch/station" >/dev/null 2>&1 || fail "create failed"

save_answering sk-first type chosen-pw key Tab type chosen-pw key Return
[ "$status" -eq 0 ] || fail "a new collection: status $status: $said"
[ "$said" = "已保存在本机钥匙串，尚未验证连接。" ] || fail "a new collection: $said"

lock_keyring
save_answering sk-second type chosen-pw key Return
[ "$status" -eq 0 ] || fail "unlocked: status $status: $said"
[ "$said" = "已保存在本机钥匙串，尚未验证连接。" ] || fail "unlocked: $said"

lock_keyring
timeout 20 "$plovik" status --json >"$scratch/status" 2>&1 || fail "locked: plovik status: $(cat "$scratch/status")"
if xdotool search --onlyvisible --class gcr-prompter >/dev/null 2>&1; then
    fail "locked: plovik status made the keyring prompt for its password"
fi
grep -q '"deepseek": *true' "$scratch/status" || fail "locked: plovik status: $(cat "$scratch/status")"

save_answering sk-third key Escape
[ "$status" -eq 1 ] || fail "dismissed: status $status: $said"
[ "$said" = "钥匙串未允许更新密钥。" ] || fail "dismissed: $said"

echo "keyring prompt: created, unlocked, looked at without a prompt and dismissed as a person would"
