#!/usr/bin/env bash
# Renders the panel under a virtual X display and saves the screen to build/screenshots/: panel.png with a
# few received files, request.png with a transfer request from a second process on loopback waiting for an
# answer, jobs.png just after an automatically accepted transfer, running.png while one is under way. Uses the
# running display when DISPLAY is set.
#   tools/screenshots.sh [build folder]   (default: build/ui)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/ui}
app=$build/src/app/quobblefin
out=$repo/build/screenshots
[[ -x $app ]] || { echo "no executable at $app; build the quobblefin target first" >&2; exit 1; }
command -v import >/dev/null || { echo "ImageMagick's import is missing" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
xvfb_pid=""
app_pid=""
sender_pid=""
cleanup() {
    [[ -n $sender_pid ]] && kill "$sender_pid" 2>/dev/null || true
    [[ -n $app_pid ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

if [[ -z ${DISPLAY:-} ]]; then
    # The first display number without a lock file or socket is free.
    for number in $(seq 90 130); do
        if [[ ! -e /tmp/.X$number-lock && ! -e /tmp/.X11-unix/X$number ]]; then
            break
        fi
    done
    Xvfb ":$number" -screen 0 1024x700x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$number"
    for _ in $(seq 50); do
        [[ -e /tmp/.X11-unix/X$number ]] && break
        sleep 0.1
    done
fi

# Private settings, keys and receive folder: the screenshot never touches the real home folder.
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
export QUOBBLEFIN_NAME="Studio Desk" QUOBBLEFIN_SAVEDIR=$work/received
unset QUOBBLEFIN_AUTOACCEPT QUOBBLEFIN_EPHEMERAL_ID
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" "$QUOBBLEFIN_SAVEDIR/Holiday photos"
chmod 700 "$XDG_RUNTIME_DIR"
head -c 2400000 /dev/zero >"$QUOBBLEFIN_SAVEDIR/Quarterly report.pdf"
head -c 48000 /dev/zero >"$QUOBBLEFIN_SAVEDIR/notes.txt"
head -c 730 /dev/zero >"$QUOBBLEFIN_SAVEDIR/Holiday photos/beach.jpg"
touch -d '-3 hours' "$QUOBBLEFIN_SAVEDIR/notes.txt"
touch -d '-2 days' "$QUOBBLEFIN_SAVEDIR/Holiday photos"

# The identity in the private key store, made now so that the sender below can pin its key.
fingerprint=$("$app" --identity "$work/identity.der" | sed -n 's/^fingerprint \([0-9a-f]*\).*/\1/p')
start_app() {
    "$app" >"$work/app.log" 2>&1 &
    app_pid=$!
    # The panel needs a moment to map and paint; the listener line says start-up has gone through.
    for _ in $(seq 50); do
        grep -q "listening as" "$work/app.log" 2>/dev/null && break
        sleep 0.1
    done
    sleep 1
}

stop_app() {
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

# Sends one file from a second device with its own settings and keys.
send_file() {
    XDG_DATA_HOME=$work/sender-data XDG_CONFIG_HOME=$work/sender-config QUOBBLEFIN_NAME="Kitchen Laptop" \
        "$app" --send 127.0.0.1 "$1" "key=$fingerprint" "$2" >"$work/sender.log" 2>&1
}

start_app
import -window root "$out/panel.png"
echo "saved $out/panel.png"

port=$(sed -n 's/.*listening as ".*" port \([0-9]*\).*/\1/p' "$work/app.log" | tail -1)
if [[ -n $port ]]; then
    mkdir -p "$work/outgoing"
    head -c 3100000 /dev/zero >"$work/outgoing/Site plan.dwg"
    # The panel asks before receiving; the sender waits for that answer until it is stopped at exit.
    send_file "$port" "$work/outgoing/Site plan.dwg" &
    sender_pid=$!
    sleep 2
    if ! kill -0 "$sender_pid" 2>/dev/null; then
        echo "the sender ended early:" >&2
        cat "$work/sender.log" >&2
    fi
    import -window root "$out/request.png"
    echo "saved $out/request.png"
    kill "$sender_pid" 2>/dev/null || true
    sender_pid=""

    # A finished transfer's row stays for a few seconds: long enough to catch it.
    stop_app
    QUOBBLEFIN_AUTOACCEPT=1 start_app
    port=$(sed -n 's/.*listening as ".*" port \([0-9]*\).*/\1/p' "$work/app.log" | tail -1)
    send_file "$port" "$work/outgoing/Site plan.dwg" || cat "$work/sender.log" >&2
    sleep 0.5
    import -window root "$out/jobs.png"
    echo "saved $out/jobs.png"

    # A transfer under way, its row with the cancel button: a sparse file large enough to still be on its way,
    # then the sender is stopped, which cancels it on both sides.
    truncate -s 8G "$work/outgoing/Disk image.img"
    send_file "$port" "$work/outgoing/Disk image.img" &
    sender_pid=$!
    sleep 1
    import -window root "$out/running.png"
    echo "saved $out/running.png"
    kill -TERM "$sender_pid" 2>/dev/null || true
    wait "$sender_pid" 2>/dev/null || true
    sender_pid=""
else
    echo "no listener line; request.png skipped" >&2
fi
