#!/usr/bin/env bash
# Renders every main state of the interface under a virtual X display into build/screenshots/, in English,
# Japanese and Thai: the panel (empty; devices with a drag hovering; requests; transfers; a full inbox;
# everything at the minimum size), the settings popover, the devices window and its add-by-address form
# (filled in with an error, and at the key comparison), the tray menu with its language submenu and the share
# banner; the English set again on a dark desktop in build/screenshots/dark/. Texts that do not fit are listed
# on standard error and fail the run.
#   tools/screenshots.sh [build folder]   (default: build/dev)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build/dev}
scenes=$build/tools/screenshots/screenshot_scenes
out=$repo/build/screenshots
[[ -x $scenes ]] || { echo "no scene renderer at $scenes; build the screenshot_scenes target first" >&2; exit 1; }
mkdir -p "$out"

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The first display number without a lock file or socket is free.
for number in $(seq 90 130); do
    if [[ ! -e /tmp/.X$number-lock && ! -e /tmp/.X11-unix/X$number ]]; then
        break
    fi
done
Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [[ -e /tmp/.X11-unix/X$number ]] && break
    sleep 0.1
done
[[ -e /tmp/.X11-unix/X$number ]] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }

# Private settings, keys and receive folders: nothing here touches the real home folder.
export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/run
export QUOBBLEFIN_NAME="Studio Desk"
unset QUOBBLEFIN_AUTOACCEPT QUOBBLEFIN_EPHEMERAL_ID QUOBBLEFIN_SAVEDIR
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

status=0
for lang in en ja th; do
    "$scenes" "$out" "$lang" 2> >(grep -v -e '^QStandardPaths' -e 'propagateSizeHints' >&2) || status=1
done
# One language again on a dark desktop: everything drawn must follow the palette.
"$scenes" "$out/dark" en dark 2> >(grep -v -e '^QStandardPaths' -e 'propagateSizeHints' >&2) || status=1
count=$(find "$out" -name '*.png' | wc -l)
echo "$count screenshots in $out"
exit $status
