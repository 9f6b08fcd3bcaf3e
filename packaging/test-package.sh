#!/usr/bin/env bash
# Builds the Debian package from a build tree and checks it without installing it:
# lintian (no errors), the desktop entry and the AppStream metainfo, the contents, then the
# programs run from the extracted package.
#   test-package.sh CPACK CPACK_CONFIG PROBE_PLUGIN_DIR VERSION
set -euo pipefail
cpack=$1 config=$2 probe_plugins=$3 version=$4

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvex6-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== cpack"
"$cpack" -G DEB --config "$config" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$work/out/tarvex6-bootloader_${version}_${arch}.deb
[ -f "$deb" ] || { ls "$work/out"; fail "no $(basename "$deb")"; }
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo; do
    [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib"
done
for field in Maintainer Section Description; do
    [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "no $field"
done

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$work/lintian.log" ||
    fail "lintian reports errors"
echo "lintian: $(grep -c '^E:' "$work/lintian.log" || true) errors, $(grep -c '^W:' "$work/lintian.log" || true) warnings"

echo "== contents"
root=$work/root
dpkg-deb -x "$deb" "$root"
app=example.vorn.tarvex6_bootloader
for f in usr/bin/tarvex6-bootloader usr/bin/tarvex6-sim \
         "usr/share/applications/$app.desktop" "usr/share/metainfo/$app.metainfo.xml" \
         usr/share/man/man1/tarvex6-bootloader.1.gz usr/share/man/man1/tarvex6-sim.1.gz \
         usr/share/doc/tarvex6-bootloader/copyright usr/share/doc/tarvex6-bootloader/changelog.gz; do
    [ -f "$root/$f" ] || fail "missing /$f"
done
for size in 16 32 48 256; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/tarvex6-bootloader.png
    [ -f "$png" ] || fail "missing icon ${size}x${size}"
    # width and height from the PNG header
    dims=$(od -An -j16 -N8 -tu1 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [ "$dims" = "${size}x${size}" ] || fail "icon ${size}x${size} is $dims"
done
desktop=$root/usr/share/applications/$app.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=tarvex6-bootloader' "$desktop" || fail "the desktop entry starts another program"
grep -qx 'Icon=tarvex6-bootloader' "$desktop" || fail "the desktop entry names another icon"
appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/$app.metainfo.xml" ||
    fail "appstreamcli validate"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$app.metainfo.xml" ||
    fail "metainfo release is not $version"

echo "== tarvex6-flash --version"
if [ -x "$root/usr/bin/tarvex6-flash" ]; then
    [ -f "$root/usr/share/man/man1/tarvex6-flash.1.gz" ] || fail "missing tarvex6-flash.1.gz"
    out=$("$root/usr/bin/tarvex6-flash" --version) || fail "tarvex6-flash --version fails"
    echo "$out"
    [[ $out == *"$version"* ]] || fail "tarvex6-flash --version does not say $version"
else
    echo "SKIPPED: tarvex6-flash is not in this build, so not in the package"
fi

echo "== tarvex6-sim --help"
out=$("$root/usr/bin/tarvex6-sim" --help) || fail "tarvex6-sim --help fails"
[[ $out == "Usage: tarvex6-sim"* ]] || fail "tarvex6-sim --help: $out"
echo "${out%%$'\n'*}"

echo "== the window, offscreen"
# The probe plugin reads the window's widgets and ends the program once it is ready.
rc=0
out=$(QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH="$probe_plugins" \
      QT_QPA_GENERIC_PLUGINS=tarvex6readyprobe \
      timeout 120 "$root/usr/bin/tarvex6-bootloader" 2>"$work/window.err") || rc=$?
if [ "$rc" -ne 0 ]; then
    cat "$work/window.err"
    echo "$out"
    fail "the window exits with $rc"
fi
echo "$out"
IFS=$'\t' read -r state title about <<<"$out"
[ "$state" = READY ] || fail "the window did not report ready"
[ "$title" = "TARVEX-6 Bootloader (від 04.10.24)" ] || fail "window title: $title"
[ "$about" = "TARVEX-6 Bootloader, версія $version" ] || fail "about window: $about"
echo "package test passed"
