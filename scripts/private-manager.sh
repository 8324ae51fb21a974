# The private systemd user manager of the tests, for scripts/test and scripts/mutants (sourced).
# prepare_user_manager runs as root with $test_user set; start_user_manager runs as that user
# with $scratch set, sets $manager_pid and exports OSTRAK_TEST_PRIVATE_SYSTEMD and
# OSTRAK_TEST_SYSTEMD_PID when the manager runs; stop_user_manager ends it.

# systemd --user only starts where the machine looks booted with systemd and it has a cgroup of
# its own to manage. On a machine without a systemd init (CI is one) root prepares both: the
# marker folder, and a cgroup2 folder handed to the test user that this shell moves into, so the
# private manager started later as the test user inherits it.
prepare_user_manager() {
    [ -x /lib/systemd/systemd ] || return 0
    mkdir -p /run/systemd/system
    local base
    if [ -f /sys/fs/cgroup/unified/cgroup.procs ]; then
        base=/sys/fs/cgroup/unified
    elif [ -f /sys/fs/cgroup/cgroup.procs ]; then
        base=/sys/fs/cgroup
    else
        return 0
    fi
    local group="$base/plovik-test"
    mkdir -p "$group" && chown -R "$test_user:" "$group" && echo $$ > "$group/cgroup.procs" ||
        echo "scripts/test: could not prepare a cgroup for the private systemd user manager" >&2
}

# A private systemd user manager for the end-to-end tests of the service unit.
start_user_manager() {
    if [ ! -d /run/systemd/system ] || [ ! -x /lib/systemd/systemd ]; then
        echo "scripts/test: no systemd here; the systemd end-to-end test will be skipped"
        return 0
    fi
    /lib/systemd/systemd --user >"$scratch/systemd-user.log" 2>&1 &
    manager_pid=$!
    for _ in $(seq 100); do
        case "$(systemctl --user is-system-running 2>/dev/null)" in
            running | degraded)
                export OSTRAK_TEST_PRIVATE_SYSTEMD=1 OSTRAK_TEST_SYSTEMD_PID=$manager_pid
                return 0
                ;;
        esac
        kill -0 "$manager_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "scripts/test: the private systemd user manager did not start; the systemd tests will be skipped:" >&2
    tail -5 "$scratch/systemd-user.log" >&2
    kill "$manager_pid" 2>/dev/null || true
    manager_pid=
}
stop_user_manager() {
    [ -n "${manager_pid:-}" ] || return 0
    systemctl --user exit >/dev/null 2>&1 || kill "$manager_pid" 2>/dev/null
    wait "$manager_pid" 2>/dev/null
    manager_pid=
}
