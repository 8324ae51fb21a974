#!/usr/bin/env bash
# Installs the package as a new user would on a fresh Debian 12 or 13 system, without recommended
# packages (the default of many servers, containers and minimal desktops), and checks that:
#   1. apt installs it with --no-install-recommends;
#   2. the window draws its Chinese as glyphs: the welcome page on Xvfb is compared with the same
#      page once the Chinese font the package pulled in is taken away (then Qt draws boxes);
#   3. the user unit is found by name in /usr/lib/systemd/user: `plovik service enable` under the
#      user's own systemd manager enables it there, and the service writes a fresh heartbeat.
# The system is a new copy of the minimal Debian of that release (made by debootstrap once, by
# scripts/debian-base) in a chroot, with systemd installed as on any booted Debian; the window
# runs on an Xvfb screen outside it.
# Usage (as root, with network access to deb.debian.org):
#   fresh_system_check.sh RELEASE PACKAGE.deb [OUTPUT_DIR]   (12 or 13; screenshots go to OUTPUT_DIR)
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "fresh_system_check.sh: run as root" >&2; exit 2; }
case "${1:-}" in 12 | 13) ;; *) set -- ;; esac
[ $# -ge 2 ] && [ -f "$2" ] ||
    { echo "usage: fresh_system_check.sh 12|13 PACKAGE.deb [OUTPUT_DIR]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
release=$1
package=$(realpath "$2")
output=$(realpath -m "${3:-$PWD/fresh-system-$release}")
mkdir -p "$output"
"$here/../../scripts/install-deps" fresh
display=
for number in $(seq 90 99); do
    [ -e "/tmp/.X$number-lock" ] || { display=:$number; break; }
done
[ -n "$display" ] || { echo "fresh_system_check.sh: no free X display in :90 to :99" >&2; exit 1; }

work=$(mktemp -d /var/tmp/plovik-fresh.XXXXXX)
trap cleanup EXIT
root="$work/root"
xvfb_pid=
manager_pid=
group=
mounts_inside() { awk -v r="$root/" 'index($2, r) == 1 {print $2}' /proc/self/mounts; }
# Signals the processes running inside the system, those named $2 or all of them.
signal_inside() {
    local proc
    for proc in /proc/[0-9]*; do
        [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] || continue
        [ -z "${2:-}" ] || [ "$(cat "$proc/comm" 2>/dev/null)" = "$2" ] || continue
        kill "-$1" "${proc#/proc/}" 2>/dev/null
    done
    return 0
}
kill_tree() {
    local child
    for child in $(ps -o pid= --ppid "$1" 2>/dev/null); do kill_tree "$child"; done
    kill -9 "$1" 2>/dev/null
    return 0
}
cleanup() {
    local status=$?
    set +e
    if [ "${PLOVIK_FRESH_KEEP:-}" = 1 ] && [ "$status" -ne 0 ]; then
        echo "kept for a look: $root (display $display)" >&2
        exit "$status"
    fi
    signal_inside KILL  # the app and the commands
    [ -n "$manager_pid" ] && kill_tree "$manager_pid"  # in a mount namespace of its own
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    sleep 0.5
    for mount in $(mounts_inside | sort -r); do umount -l "$mount" 2>/dev/null; done
    if [ -n "$group" ]; then
        # The manager and the service: in their own mount namespace, they are found by group.
        find "$group" -name cgroup.procs -exec cat {} + 2>/dev/null | xargs -r kill -9 2>/dev/null
        sleep 0.5
        find "$group" -depth -type d -exec rmdir {} + 2>/dev/null
    fi
    # Never delete through a mount that is still there: that would reach the host's files.
    if [ -n "$(mounts_inside)" ]; then
        echo "fresh_system_check.sh: still mounted, $work left in place:" >&2
        mounts_inside >&2
        exit 1
    fi
    rm -rf --one-file-system "$work"
    exit "$status"
}
inside() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
passed() { echo "ok: $*"; }
failed() { echo "FAILED: $*" >&2; exit 1; }

cache=$("$here/../../scripts/debian-base" "$release")
# One user of apt's download folder (and its lock) at a time, as in scripts/test-on-debian.
exec 9>"$cache/run.lock"
flock 9
echo "a new minimal Debian $release system in $root"
mkdir "$root"
tar -C "$root" --numeric-owner -xf "$cache/base.tar"
cp /etc/resolv.conf "$root/etc/resolv.conf"
mount -t proc proc "$root/proc"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp "$package" "$root/tmp/"

# 1. The package with its dependencies only, and systemd, which every booted Debian has.
inside apt-get update -q >"$work/apt.log" 2>&1 || { tail -5 "$work/apt.log" >&2; failed "apt-get update"; }
inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    systemd "/tmp/$(basename "$package")" >>"$work/apt.log" 2>&1 ||
    { tail -20 "$work/apt.log" >&2; failed "apt-get install --no-install-recommends"; }
version=$(inside dpkg-query -W -f '${Version}' plovik)
passed "plovik $version installed with --no-install-recommends"
fonts=$(inside dpkg-query -W -f '${Package} ${Status}\n' 'fonts-*' 2>/dev/null |
    awk '/ installed$/ && $1 ~ /cjk|wqy|arphic/ {print $1}')
[ -n "$fonts" ] || failed "no Chinese font was installed with the package"
passed "Chinese font installed as a dependency: $fonts"
# By file: Debian 13 names the package libcurl4t64.
for library in libcurl.so.4 libsecret-1.so.0; do
    inside ldconfig -p | grep -F "$library (" >/dev/null ||
        failed "$library (loaded by the programs when first needed) was not installed"
done
passed "libcurl.so.4 and libsecret-1.so.0 installed as dependencies"

# The host's devices and /sys only now, after the maintainer scripts have run; a failed
# --make-rslave would let the unmounts at the end reach the host's own mounts.
mount --rbind /sys "$root/sys"
mount --make-rslave "$root/sys" || failed "mount --make-rslave $root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev" || failed "mount --make-rslave $root/dev"
mount -t tmpfs -o mode=755 tmpfs "$root/run"
mkdir -p -m 1777 /tmp/.X11-unix "$root/tmp/.X11-unix"
mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"

inside useradd --create-home --shell /bin/bash walker
uid=$(inside id -u walker)
mkdir -p -m 700 "$root/run/user/$uid"
inside chown walker: "/run/user/$uid"
as_walker() {
    chroot "$root" runuser -u walker -- env -i PATH=/usr/bin:/bin HOME=/home/walker LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="/run/user/$uid" DISPLAY="$display" "$@"
}

# 2. The welcome page with the font, then without it.
Xvfb "$display" -screen 0 1024x768x24 -fbdir "$work" -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
disown "$xvfb_pid"
for _ in $(seq 50); do
    [ -S "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
[ -S "/tmp/.X11-unix/X${display#:}" ] || { cat "$work/xvfb.log" >&2; failed "Xvfb did not start"; }
screenshot() {  # NAME: starts the app, waits for it to draw, keeps the screen, ends the app
    as_walker QT_QPA_PLATFORM=xcb OstrakDesktop >"$work/app-$1.log" 2>&1 &
    local app=$!
    sleep 6
    kill -0 "$app" 2>/dev/null || { cat "$work/app-$1.log" "$work/xvfb.log" >&2; failed "OstrakDesktop did not stay up"; }
    cp "$work/Xvfb_screen0" "$work/$1.xwd"
    /usr/bin/python3 "$here/framebuffer.py" save "$work/$1.xwd" "$output/$1.png"
    signal_inside TERM OstrakDesktop
    wait "$app" 2>/dev/null || true
}
screenshot with-font
inside env DEBIAN_FRONTEND=noninteractive dpkg --purge --force-depends $fonts >>"$work/apt.log" 2>&1
screenshot without-font
changed=$(/usr/bin/python3 "$here/framebuffer.py" differ "$work/with-font.xwd" "$work/without-font.xwd")
# The page's Chinese lines make thousands of pixels; a few hundred could be the caret alone.
[ "$changed" -gt 2000 ] || failed "the window looks the same without the Chinese font ($changed pixels differ)"
passed "the window's Chinese differs from boxes in $changed pixels ($output/with-font.png, $output/without-font.png)"

# 3. The unit by name, through the user's own manager. Where the host was not booted with
# systemd (a build machine), the manager needs the marker folder and a cgroup of its own.
mkdir -p "$root/run/systemd/system"
for base in /sys/fs/cgroup/unified /sys/fs/cgroup; do
    if [ -f "$base/cgroup.procs" ]; then
        group="$base/plovik-fresh-$$"
        mkdir -p "$group" && chown -R "$uid" "$group"
        break
    fi
done
# The kernel refuses user namespaces (the unit's PrivateUsers=) to a chrooted process, so the
# manager gets the system as the root of a mount namespace of its own, as in a container.
(
    [ -n "$group" ] && echo "$BASHPID" >"$group/cgroup.procs"
    exec unshare --mount --propagation private -- sh -c '
        mount --rbind "$1" "$1" && cd "$1" && mkdir -p .host && pivot_root . .host &&
            umount -l /.host && rmdir /.host &&
            exec runuser -u walker -- env -i PATH=/usr/bin:/bin HOME=/home/walker \
                XDG_RUNTIME_DIR="/run/user/$2" SYSTEMD_LOG_TARGET=console /lib/systemd/systemd --user
    ' manager "$root" "$uid"
) >"$work/manager.log" 2>&1 &
manager_pid=$!
disown "$manager_pid"
manager_state=
for _ in $(seq 100); do
    manager_state=$(as_walker systemctl --user is-system-running 2>/dev/null || true)
    case "$manager_state" in running | degraded) break ;; esac
    sleep 0.1
done
case "$manager_state" in
    running | degraded) ;;
    *) tail -5 "$work/manager.log" >&2; failed "the user manager did not start ($manager_state)" ;;
esac
# The README's walk-through without a display (a key needs a Secret Service, which a host
# without a desktop lacks).
as_walker plovik create 书房 >/dev/null
printf '# 周报\n本周完成了工作站的部署。\n' >"$root/home/walker/report.md"
inside chown walker: /home/walker/report.md
note=$(as_walker plovik note add --title 周报 /home/walker/report.md 2>/dev/null)
[ -f "$root$note" ] || failed "plovik note add printed '$note'"
hits=$(as_walker plovik search 周报)
case "$hits" in *"$note"*) ;; *) failed "plovik search 周报 did not find the note: '$hits'" ;; esac
passed "a note added from a file is found by plovik search"
# libsecret loads; a host without a desktop has no Secret Service to answer.
keyring=$(as_walker plovik key status deepseek 2>&1 || true)
[ "$keyring" = "未找到系统钥匙串服务，请安装并启动 GNOME Keyring、KeePassXC 或 KWallet。" ] ||
    failed "plovik key status deepseek said '$keyring'"
passed "plovik key status loads libsecret and finds no keyring, as on a host without a desktop"
as_walker plovik service enable || {
    as_walker systemctl --user status cn.trenzo.workstation.agent.service >&2
    tail -30 "$work/manager.log" >&2
    failed "plovik service enable"
}
path=$(as_walker systemctl --user show -P FragmentPath cn.trenzo.workstation.agent.service)
state=$(as_walker systemctl --user is-enabled cn.trenzo.workstation.agent.service || true)
[ "$path" = /usr/lib/systemd/user/cn.trenzo.workstation.agent.service ] && [ "$state" = enabled ] ||
    failed "the unit is $state from '$path'"
passed "the unit is enabled by name from $path"
sleep 6
as_walker plovik status --json | /usr/bin/python3 -c '
import json, sys
status = json.load(sys.stdin)
beat = status.get("heartbeat") or {}
sys.exit(0 if beat.get("fresh") else f"no fresh heartbeat: {status}")'
passed "the service writes a fresh heartbeat"
as_walker plovik service disable || {
    as_walker systemctl --user status cn.trenzo.workstation.agent.service >&2
    tail -30 "$work/manager.log" >&2
    failed "plovik service disable"
}
state=$(as_walker systemctl --user is-enabled cn.trenzo.workstation.agent.service || true)
active=$(as_walker systemctl --user is-active cn.trenzo.workstation.agent.service || true)
[ "$state" = disabled ] && [ "$active" = inactive ] || failed "the unit is $state and $active"
passed "the service is stopped and disabled again"
echo "fresh system check passed"
