#!/usr/bin/env bash
# Builds the Debian package of a plain build folder (default: build) with cpack and checks
# it: the files it holds and where, its control fields and library dependencies, that its
# maintainer scripts never fail, and that the unpacked programs start and find their data.
# Where appstreamcli and desktop-file-validate are installed they check the metadata and the
# launcher entry; lintian's findings are shown when it is installed, without failing the check.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

fail() {
    echo "check-deb: $*" >&2
    exit 1
}
cache_value() {  # cache_value NAME: the value of NAME in the build folder's CMake cache
    sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"
}

[ -f "$build/CPackConfig.cmake" ] || fail "$build is not a configured build folder"
[ -z "$(cache_value QVM_SANITIZE)" ] || fail "$build is a sanitizer build; package a plain one"
for option in QVM_BUILD_GUI QVM_LINUX_HID; do
    [ "$(cache_value "$option")" = ON ] || fail "$build was configured with $option off"
done

out="$build/package"
rm -rf "$out"
echo "== cpack -G DEB" >&2
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$build/cpack.log" 2>&1 ||
    { cat "$build/cpack.log" >&2; fail "cpack failed"; }
shopt -s nullglob
debs=("$out"/qvm-gaming_*.deb)
((${#debs[@]} == 1)) || fail "expected one qvm-gaming_*.deb in $out, found ${#debs[@]}"
deb=${debs[0]}
echo "== checking $deb" >&2

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Contents: every file where Debian's tools look for it, and nothing outside /usr.
dpkg-deb -c "$deb" >"$scratch/contents"
awk '{ print substr($1, 1, 10), $6 }' "$scratch/contents" >"$scratch/files"
expected=(
    "-rwxr-xr-x ./usr/bin/qvm-gaming"
    "-rwxr-xr-x ./usr/bin/qvmctl"
    "-rwxr-xr-x ./usr/bin/qvm-companion"
    "-rwxr-xr-x ./usr/bin/qvm-sim"
    "-rw-r--r-- ./usr/share/qvm-gaming/language.ini"
    "-rw-r--r-- ./usr/share/qvm-gaming/keyboard.ini"
    "-rw-r--r-- ./usr/share/qvm-gaming/bulitin.ini"
    "-rw-r--r-- ./usr/share/qvm-gaming/library/example.ini"
    "-rw-r--r-- ./usr/share/qvm-gaming/71-qvm-gaming-uinput.rules"
    "-rw-r--r-- ./usr/lib/udev/rules.d/70-qvm-gaming.rules"
    "-rw-r--r-- ./usr/share/applications/qvm-gaming.desktop"
    "-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/qvm-gaming.svg"
    "-rw-r--r-- ./usr/share/metainfo/io.github.qvm_gaming.QvmGaming.metainfo.xml"
    "-rw-r--r-- ./usr/share/doc/qvm-gaming/copyright"
    "-rw-r--r-- ./usr/share/doc/qvm-gaming/changelog.Debian.gz"
)
for line in "${expected[@]}"; do
    grep -qxF -- "$line" "$scratch/files" || fail "the package lacks $line"
done
# The device rule is active from rules.d only; the uinput rule stays an opt-in copy.
stray=$(awk '{ print $2 }' "$scratch/files" | grep -vE '^\./(usr/?)?$|^\./usr/(bin|share|lib)(/|$)' || true)
[ -z "$stray" ] || fail "files outside /usr/bin, /usr/share, /usr/lib: $stray"
stray=$(awk '{ print $2 }' "$scratch/files" | grep -E '^\./usr/lib/' |
    grep -vE '^\./usr/lib/(udev(/rules\.d(/70-qvm-gaming\.rules)?)?/?)?$' || true)
[ -z "$stray" ] || fail "unexpected files in /usr/lib: $stray"
grep -qE '/(qvm-uhid|vm_tests|bench_[a-z_]*|[a-z]*_tests)$' "$scratch/files" &&
    fail "the package holds a test or benchmark program"
grep -qF ./usr/share/qvm-gaming/70-qvm-gaming.rules "$scratch/files" &&
    fail "the device rule is also in the program data"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
version="$(cache_value CMAKE_PROJECT_VERSION)-$(cache_value QVM_DEB_RELEASE)"
[ "$(field Package)" = qvm-gaming ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
    fail "Architecture is '$(field Architecture)'"
for name in Maintainer Section Description; do
    [ -n "$(field "$name")" ] || fail "no $name field"
done
depends=$(field Depends)
# The package names alone, one a line: "libc6 (>= 2.35), libx11-6" gives libc6 and libx11-6.
sed 's/ *([^)]*)//g; s/, */\n/g; s/ *|[^\n]*//g' <<<"$depends" >"$scratch/depends"
for library in libqt6widgets6 libqt6gui6 libqt6core6 libudev1 libusb-1.0-0 libx11-6 libxi6 \
    libxtst6 libstdc++6 libc6; do
    grep -qxF "$library" "$scratch/depends" || fail "Depends lacks $library: $depends"
done

# Maintainer scripts: present, executable, and they succeed even when every tool they
# call fails (a container without udev, a broken cache tool).
dpkg-deb -e "$deb" "$scratch/control"
mkdir "$scratch/failing-tools"
for tool in udevadm update-desktop-database gtk-update-icon-cache; do
    printf '#!/bin/sh\nexit 1\n' >"$scratch/failing-tools/$tool"
    chmod +x "$scratch/failing-tools/$tool"
done
for step in "postinst configure" "postrm remove" "postrm purge"; do
    read -r script action <<<"$step"
    [ -x "$scratch/control/$script" ] || fail "no executable $script"
    PATH="$scratch/failing-tools:$PATH" "$scratch/control/$script" "$action" ||
        fail "$script $action failed"
done

# The changelog names the packaged version, as Debian's tools read it.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/qvm-gaming/changelog.Debian.gz |
    gunzip | head -n 1 | grep -qF "qvm-gaming ($version)" ||
    fail "the changelog does not begin with qvm-gaming ($version)"

# The unpacked programs start and find their data beside them (no QVM_DATA_DIR), on
# simulated devices kept in a folder of their own.
dpkg-deb -x "$deb" "$scratch/root"
bin="$scratch/root/usr/bin"
export QVM_USER_DIR="$scratch/user"
unset QVM_DATA_DIR QVM_HID
run() {  # run PROGRAM ARGS...: the output, or the failure with it
    "$@" >"$scratch/out" 2>&1 || { cat "$scratch/out" >&2; fail "'${*#"$bin/"}' failed"; }
}
run "$bin/qvmctl" --version
grep -qF "${version%-*}" "$scratch/out" || fail "qvmctl --version does not say ${version%-*}"
run "$bin/qvm-gaming" --version
grep -qF "${version%-*}" "$scratch/out" || fail "qvm-gaming --version does not say ${version%-*}"
run "$bin/qvm-companion" --help
run "$bin/qvm-sim" --help
run "$bin/qvmctl" functions  # bulitin.ini and library/*.ini
grep -qi "left click" "$scratch/out" || fail "qvmctl functions found no function library"
run "$bin/qvmctl" --simulate=mx28 kbd show --json  # keyboard.ini
grep -qF '"Esc"' "$scratch/out" || fail "qvmctl kbd show found no keyboard.ini"
run "$bin/qvmctl" --hid "exec:$bin/qvm-sim g12" show

# The software centre takes the version from the metadata: the packaged one must be listed.
metainfo="$scratch/root/usr/share/metainfo/io.github.qvm_gaming.QvmGaming.metainfo.xml"
grep -qF "<release version=\"${version%-*}\"" "$metainfo" ||
    fail "the metainfo lists no release ${version%-*}"
if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate --no-net "$metainfo" >"$scratch/out" 2>&1 ||
        { cat "$scratch/out" >&2; fail "appstreamcli finds the metainfo invalid"; }
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$scratch/root/usr/share/applications/qvm-gaming.desktop" ||
        fail "desktop-file-validate finds the launcher entry invalid"
fi

if command -v lintian >/dev/null 2>&1; then
    echo "== lintian (not checked)" >&2
    lintian --no-tag-display-limit "$deb" >&2 || true
fi
echo "== package checked: $deb" >&2
