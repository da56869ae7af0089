#!/usr/bin/env bash
# Runs a command inside a network namespace of its own, with an avahi-daemon confined to one veth pair there, so
# that DNS-SD tests never send a multicast packet onto a real network.
#
#   tests/support/sandbox.sh <command> [args...]
#
# The namespace holds the pair va <-> vb (10.77.0.1/24 and 10.77.0.2/24) and loopback; the daemon listens on va
# only, IPv4 only, and publishes neither workstation nor hinfo records. The system D-Bus is started only when
# none answers. Everything this script started is stopped again on exit, on failure and on Ctrl-C; a daemon it
# did not start is never touched. Without root it prints SKIPPED and why and exits 77; with CI=true a skip
# is a failure (exit 1). Otherwise it exits with the command's status.
set -uo pipefail

skip() {
  echo "SKIPPED: DNS-SD sandbox: $*" >&2
  [ "${CI:-}" = "true" ] && exit 1
  exit 77
}

[ $# -gt 0 ] || { echo "usage: $0 <command> [args...]" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || skip "needs root to create a network namespace (run as root, or through sudo)"
for tool in ip avahi-daemon dbus-daemon dbus-send; do
  command -v "$tool" >/dev/null || skip "$tool is missing (make test-deps installs it)"
done

ns="qb-sandbox-$$"
work=$(mktemp -d /tmp/qb-sandbox.XXXXXX)
dbus_pid=""
ns_made=""
command_pid=""

teardown() {
  trap - EXIT INT TERM
  if [ -n "$command_pid" ]; then
    kill -TERM "$command_pid" 2>/dev/null
    for _ in $(seq 50); do alive "$command_pid" || break; sleep 0.1; done
    kill -KILL "$command_pid" 2>/dev/null
  fi
  [ -x "$work/avahi-ctl" ] && "$work/avahi-ctl" stop
  if [ -n "$dbus_pid" ]; then
    kill -TERM "$dbus_pid" 2>/dev/null
    for _ in $(seq 50); do alive "$dbus_pid" || break; sleep 0.1; done
    [ "$(cat /run/dbus/pid 2>/dev/null)" = "$dbus_pid" ] && rm -f /run/dbus/pid /run/dbus/system_bus_socket
  fi
  [ -n "$ns_made" ] && ip netns delete "$ns" 2>/dev/null
  rm -rf "$work"
}
trap 'status=$?; teardown; exit $status' EXIT
trap 'teardown; exit 130' INT
trap 'teardown; exit 143' TERM

in_ns() { ip netns exec "$ns" "$@"; }

# A process that exited but was not reaped yet (a zombie) counts as gone.
alive() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null && [ "$(ps -o stat= -p "$1" | cut -c1)" != "Z" ]; }

system_bus_answers() {
  dbus-send --system --print-reply --reply-timeout=2000 --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetId >/dev/null 2>&1
}

avahi_running() {
  dbus-send --system --print-reply --reply-timeout=1000 --dest=org.freedesktop.Avahi / \
    org.freedesktop.Avahi.Server.GetState 2>/dev/null | grep -q 'int32 2'
}

# Polls `check` every 0.1 s for at most `tenths` tenths of a second.
wait_for() {
  local tenths=$1; shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  return 1
}

ip netns add "$ns" || skip "ip netns add failed (no network namespaces here)"
ns_made=1
in_ns ip link set lo up
in_ns ip link add va type veth peer name vb || { echo "sandbox: cannot create the veth pair" >&2; exit 1; }
in_ns ip addr add 10.77.0.1/24 dev va
in_ns ip addr add 10.77.0.2/24 dev vb
in_ns ip link set va up
in_ns ip link set vb up

if ! system_bus_answers; then
  mkdir -p /run/dbus
  stale=$(cat /run/dbus/pid 2>/dev/null)
  if alive "$stale"; then
    skip "a system D-Bus (pid $stale) runs but does not answer; this sandbox never touches it"
  fi
  # A socket and pid file left behind by a bus that is gone would make the new one fail.
  rm -f /run/dbus/system_bus_socket /run/dbus/pid
  dbus_pid=$(dbus-daemon --system --fork --print-pid) || { echo "sandbox: cannot start the system D-Bus" >&2; exit 1; }
  wait_for 50 system_bus_answers || { echo "sandbox: the system D-Bus does not answer" >&2; exit 1; }
fi
if dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner \
     string:org.freedesktop.Avahi >/dev/null 2>&1; then
  skip "another avahi-daemon already serves this system bus; this sandbox never touches it"
fi

cat > "$work/avahi-daemon.conf" <<CONF
[server]
host-name=qb-sandbox
use-ipv4=yes
use-ipv6=no
allow-interfaces=va
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
publish-domain=no
publish-aaaa-on-ipv4=no
[reflector]
enable-reflector=no
CONF
# Stops and starts the sandbox's daemon (tests use it too, to see the application survive a restart). It only
# ever signals the process id it recorded itself.
cat > "$work/avahi-ctl" <<CTL
#!/usr/bin/env bash
pidfile="$work/avahi.pid"
case "\$1" in
  start)
    ip netns exec "$ns" avahi-daemon -f "$work/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits \\
      >>"$work/avahi.log" 2>&1 &
    echo \$! > "\$pidfile" ;;
  stop)
    pid=\$(cat "\$pidfile" 2>/dev/null) || exit 0
    rm -f "\$pidfile"
    kill -TERM "\$pid" 2>/dev/null || exit 0
    for _ in \$(seq 50); do
      state=\$(ps -o stat= -p "\$pid" | cut -c1)
      [ -z "\$state" ] || [ "\$state" = Z ] && exit 0
      sleep 0.1
    done
    kill -KILL "\$pid" 2>/dev/null ;;
esac
CTL
chmod +x "$work/avahi-ctl"
"$work/avahi-ctl" start
if ! wait_for 100 avahi_running; then
  echo "sandbox: avahi-daemon did not come up:" >&2
  cat "$work/avahi.log" >&2
  exit 1
fi

export QB_SANDBOX=1 QB_SANDBOX_AVAHI_CTL="$work/avahi-ctl"
# In the background, so that a signal reaches the traps at once instead of after the command.
ip netns exec "$ns" "$@" &
command_pid=$!
wait "$command_pid"
status=$?
command_pid=""
exit "$status"
