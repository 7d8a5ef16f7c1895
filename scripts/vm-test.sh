#!/usr/bin/env bash
# Boots a small virtual machine on Debian 12's stock kernel and runs a test program in it,
# so that the Linux HID backend meets a real kernel: uhid, the USB host stack with a dummy
# controller and gadgetfs, usbhid, hidraw and the kernel's device events. Prints the
# machine's console and exits with the test's status.
#
# usage: scripts/vm-test.sh [--build DIR] [--timeout SECONDS] [--cache DIR] [PROGRAM [ARG...]]
#
#   --build DIR      where qvmctl, qvm-uhid and vm_tests were built (default: build)
#   --timeout SEC    the whole boot and test run is stopped after this long (default 300)
#   --cache DIR      where the unpacked kernel is kept between runs
#                    (default: $XDG_CACHE_HOME/qvm-gaming/vm, else ~/.cache/qvm-gaming/vm)
#   PROGRAM ARG...   what to run in the machine instead of the end-to-end tests, e.g.
#                    sh -c 'ls -l /dev/hidraw*' or /vm/vm_tests --gtest_filter=KernelList*
#
# Exit status: the test's; 77 when qemu cannot run at all on this machine (the tests are
# then skipped, which the message says); 124 on the time-out; 3 when the machine did not
# say how the test ended.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly kSkip=77
readonly kNoVerdict=3
readonly kMarker="QVM-VM-EXIT:"
build=build
timeout=300
cache=${XDG_CACHE_HOME:-$HOME/.cache}/qvm-gaming/vm
program=()

die() { echo "vm-test: $*" >&2; exit 2; }
skip() { echo "vm-test: SKIPPED: $*" >&2; exit $kSkip; }

while (($#)); do
    case $1 in
        --build) build=${2:?--build needs a folder}; shift 2 ;;
        --timeout)
            [[ ${2:-} =~ ^[0-9]+$ ]] && ((${2} > 0 && ${2} <= 3600)) ||
                die "--timeout needs a number of seconds from 1 to 3600"
            timeout=$2; shift 2 ;;
        --cache) cache=${2:?--cache needs a folder}; shift 2 ;;
        -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) die "unknown option '$1' (see --help)" ;;
        *) program=("$@"); break ;;
    esac
done

# ---- Can qemu run here at all? ----
qemu=$(command -v qemu-system-x86_64 || true)
[ -n "$qemu" ] || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] && ! ldd "$busybox" >/dev/null 2>&1 ||
    die "a static busybox is needed (package busybox-static)"
# A machine without devices that quits at once through its monitor: does qemu start here?
can_start() {
    echo quit | timeout 30 "$qemu" -accel "$1" -machine none -nodefaults -display none \
        -monitor stdio >/dev/null 2>&1
}
# Emulation (TCG) by default: a /dev/kvm that opens is no promise that KVM can run a
# guest (nested or restricted hosts fail at the first unusual instruction). QVM_VM_ACCEL=kvm
# asks for it where it is known to work.
accel=${QVM_VM_ACCEL:-tcg}
[[ $accel =~ ^(tcg|kvm)$ ]] || die "QVM_VM_ACCEL must be tcg or kvm, not '$accel'"
can_start "$accel" || skip "qemu-system-x86_64 cannot start a machine here"

# ---- The kernel: Debian 12's generic amd64 flavour (the cloud one has no uinput) ----
kernel_package() {
    apt-cache depends linux-image-amd64 2>/dev/null |
        grep -o 'linux-image-6\.1\.[0-9][^ ]*-amd64' | head -n 1
}
unpack_kernel() {  # unpack_kernel PACKAGE FOLDER
    local package=$1 folder=$2 work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    echo "vm-test: fetching $package" >&2
    (cd "$work" && apt-get download -q "$package" >/dev/null 2>&1) ||
        die "apt-get download $package failed"
    # Only the kernel and the driver folders the machine loads modules from: unpacking
    # the whole package takes several times longer.
    mkdir -p "$work/root"
    dpkg-deb --fsys-tarfile "$work"/*.deb | tar -x -C "$work/root" --wildcards \
        './boot/vmlinuz-*' './lib/modules/*/modules.builtin*' './lib/modules/*/modules.order' \
        './lib/modules/*/kernel/drivers/hid/*' './lib/modules/*/kernel/drivers/usb/*' \
        './lib/modules/*/kernel/drivers/input/*' || die "cannot unpack $package"
    local vmlinuz offset
    vmlinuz=$(echo "$work"/root/boot/vmlinuz-*)
    # The compressed kernel inside the boot image: booted uncompressed (PVH) it starts
    # seconds sooner under emulation.
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || die "no xz-compressed kernel found in $vmlinuz"
    mkdir -p "$folder.new"
    tail -c "+$((offset + 1))" "$vmlinuz" | xz -dcq >"$folder.new/vmlinux" 2>/dev/null || true
    [ "$(head -c 4 "$folder.new/vmlinux" | od -An -c | tr -d ' ')" = '177ELF' ] ||
        die "could not unpack the kernel of $package"
    # The package leaves modules.dep to the machine it is installed on.
    mkdir -p "$folder.new/lib"
    mv "$work"/root/lib/modules "$folder.new/lib/modules"
    local version
    version=$(basename "$(echo "$folder.new"/lib/modules/*)")
    depmod_cmd=$(command -v depmod || echo /sbin/depmod)
    [ -x "$depmod_cmd" ] || depmod_cmd="$busybox depmod"
    $depmod_cmd -b "$folder.new" "$version" || die "depmod failed for $package"
    rm -rf "$folder"
    mv "$folder.new" "$folder"
}
package=$(kernel_package || true)
if [ -z "$package" ]; then
    # Without apt's lists (offline) any kernel already unpacked will do.
    package=$(ls "$cache" 2>/dev/null | grep '^linux-image-' | tail -n 1 || true)
    [ -n "$package" ] || die "apt-cache does not know linux-image-amd64 (run apt-get update)"
fi
kernel=$cache/$package
[ -f "$kernel/vmlinux" ] || { mkdir -p "$cache"; unpack_kernel "$package" "$kernel"; }
modules=$(echo "$kernel"/lib/modules/*)

# ---- The initramfs ----
stage=$(mktemp -d)
initrd=$(mktemp)
console=$(mktemp)
cleanup() { rm -rf "$stage" "$initrd" "$console"; }
trap cleanup EXIT
# The folder becomes the machine's root: mktemp's private mode would shut out every user
# but root.
chmod 755 "$stage"
mkdir -p "$stage"/{bin,dev,proc,sys,tmp,run,etc,lib/modules,vm}
cp "$busybox" "$stage/bin/busybox"
ln -s busybox "$stage/bin/sh"
printf 'root:x:0:0::/:/bin/sh\nnobody:x:65534:65534::/:/bin/sh\n' >"$stage/etc/passwd"
printf 'root:x:0:\nnogroup:x:65534:\n' >"$stage/etc/group"

# Modules in load order: each one's dependencies (modules.dep) before it.
loaded=()
add_module() {
    local name=$1 line path dep
    line=$(grep -E "(^|/)$name\.ko(\.[a-z]+)?:" "$modules/modules.dep" | head -n 1) ||
        die "module $name is not in $package"
    path=${line%%:*}
    for dep in ${line#*:}; do
        dep=$(basename "$dep"); add_module "${dep%%.ko*}"
    done
    for done_path in "${loaded[@]}"; do [ "$done_path" = "$path" ] && return 0; done
    loaded+=("$path")
    cp "$modules/$path" "$stage/lib/modules/$(printf '%02d' ${#loaded[@]})-$(basename "$path")"
}
# uhid for programs that make HID devices; usbhid, the dummy USB controller and gadgetfs
# for a program that is a whole USB device; uinput and evdev for the injected input and
# the event nodes it is read back from.
for m in uhid hid-generic usbhid dummy_hcd gadgetfs uinput evdev; do add_module "$m"; done

# The programs, with the shared libraries they need and the loader.
add_binary() {
    local file=$1 lib
    cp "$file" "$stage/vm/"
    for lib in $(ldd "$file" | grep -o '/[^ ]*'); do
        mkdir -p "$stage$(dirname "$lib")"
        cp -L "$lib" "$stage$lib"
    done
}
# A program given on the command line may do without them; the tests need all three.
for b in qvmctl qvm-uhid vm_tests; do
    if [ -x "$build/$b" ]; then
        add_binary "$build/$b"
    elif ((${#program[@]} == 0)); then
        die "$build/$b is missing: build the targets qvmctl qvm-uhid vm_tests"
    fi
done
cp -r data "$stage/vm/data"

if ((${#program[@]} == 0)); then program=(/vm/vm_tests); fi
printf '%q ' "${program[@]}" >"$stage/vm/command"
cat >"$stage/init" <<EOF
#!/bin/sh
/bin/busybox --install -s /bin
export PATH=/vm:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
for m in /lib/modules/*.ko; do insmod "\$m" || echo "vm: cannot load \$m"; done
mkdir -p /dev/gadget && mount -t gadgetfs gadgetfs /dev/gadget
export HOME=/tmp QVM_USER_DIR=/tmp/user QVM_DATA_DIR=/vm/data QVM_VM_BIN=/vm QVM_REQUIRE_UINPUT=1
mkdir -p /tmp/user
cd /tmp
sh -c "\$(cat /vm/command)" </dev/console
status=\$?
# On a line of its own, whatever the console printed last.
echo
echo "$kMarker\$status"
poweroff -f
EOF
chmod +x "$stage/init"
(cd "$stage" && find . | "$busybox" cpio -o -H newc 2>/dev/null) >"$initrd"

# ---- Boot ----
status=0
timeout --foreground "$timeout" "$qemu" -accel "$accel" -machine q35 -m 512 -smp 1 \
    -nodefaults -nographic -no-reboot -serial stdio -monitor none \
    -kernel "$kernel/vmlinux" -initrd "$initrd" \
    -append "console=ttyS0 quiet loglevel=3 panic=-1 rdinit=/init" </dev/null |
    tee "$console" | sed "/^$kMarker/d" || status=$?
verdict=$(tr -d '\r' <"$console" | grep -o "$kMarker[0-9]*\$" | tail -n 1 | cut -d: -f2)
if [ -n "$verdict" ]; then
    exit "$verdict"
elif ((status == 124)); then
    echo "vm-test: the machine did not finish within $timeout s" >&2
    exit 124
fi
echo "vm-test: the machine stopped without saying how the test ended" >&2
exit $kNoVerdict
