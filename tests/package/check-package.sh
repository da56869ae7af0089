#!/usr/bin/env bash
# Builds the Debian package from an already built tree, unpacks it into a scratch root with dpkg -x and checks
# that every file sits where the desktop looks for it and passes the desktop's own validators.
set -euo pipefail
build=${1:?build folder}
version=${2:?version}
id=com.kestrun.quobblefin
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for tool in cpack dpkg-deb dpkg-shlibdeps file desktop-file-validate appstreamcli groff; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (make test-deps installs it)"; exit 1; }
done

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
deb=$(ls "$work"/out/*.deb)
[ "$(basename "$deb")" = "quobblefin_${version}_amd64.deb" ] || fail "package file name $(basename "$deb")"
dpkg-deb -x "$deb" "$work/root"
root=$work/root

# Control fields: the name, the computed library dependencies and the recommendation.
[ "$(dpkg-deb -f "$deb" Package)" = quobblefin ] || fail "Package field"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6dbus6 libssl3 libcanberra0 libicu72 libqt6svg6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done
[[ "$(dpkg-deb -f "$deb" Recommends)" == *avahi-daemon* ]] || fail "avahi-daemon is not recommended"

# Files where the desktop expects them.
expect_file() { [ -f "$root/$1" ] || fail "missing /$1"; }
expect_file usr/bin/quobblefin
[ -x "$root/usr/bin/quobblefin" ] || fail "the program is not executable"
file "$root/usr/bin/quobblefin" | grep -q ", stripped" || fail "the program is not stripped"
module=$(find "$root/usr/lib" -name quobblefin-desktop.so)
if [ -z "$module" ]; then
  fail "missing the desktop module under /usr/lib"
else
  file "$module" | grep -q ", stripped" || fail "the desktop module is not stripped"
  # The unpacked program finds the module where the package put it: --browse runs from there.
  HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_DATA_HOME=$work/home/data \
    "$root/usr/bin/quobblefin" --browse 0 >"$work/browse.log" 2>&1 || fail "--browse from the package: $(cat "$work/browse.log")"
fi
expect_file usr/share/applications/$id.desktop
expect_file usr/share/metainfo/$id.metainfo.xml
expect_file usr/share/man/man1/quobblefin.1.gz
expect_file usr/share/icons/hicolor/scalable/apps/$id.svg
for size in 16 32 48 128 256; do
  png=usr/share/icons/hicolor/${size}x${size}/apps/$id.png
  expect_file "$png"
  [ -f "$root/$png" ] && { file "$root/$png" | grep -q "PNG image data, $size x $size" || fail "$png is not $size px"; }
done
expect_file usr/share/kio/servicemenus/$id.desktop
script="usr/share/quobblefin/nautilus-scripts/Send with Quobblefin"
[ -x "$root/$script" ] || fail "missing or not executable: /$script"

# The desktop's validators.
desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop-file-validate"
grep -qx 'Exec=quobblefin --share %F' "$root/usr/share/applications/$id.desktop" || fail "desktop entry Exec"
grep -q '^MimeType=.*inode/directory;' "$root/usr/share/applications/$id.desktop" || fail "desktop entry MimeType"
appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
zcat "$root/usr/share/man/man1/quobblefin.1.gz" >"$work/quobblefin.1"
warnings=$(groff -man -z -ww "$work/quobblefin.1" 2>&1)
[ -z "$warnings" ] || fail "man page: $warnings"
# Every command-line mode and environment variable is described.
sed 's/\\-/-/g' "$work/quobblefin.1" >"$work/man.txt"
for word in --identity --pair --send --share --hidden QUOBBLEFIN_NAME QUOBBLEFIN_SAVEDIR QUOBBLEFIN_AUTOACCEPT \
            QUOBBLEFIN_EPHEMERAL_ID QUOBBLEFIN_VERBOSE; do
  grep -q -- "$word" "$work/man.txt" || fail "man page lacks $word"
done

[ "$failures" -eq 0 ] || exit 1
echo "package OK: $(basename "$deb") $(stat -c %s "$deb") bytes"
