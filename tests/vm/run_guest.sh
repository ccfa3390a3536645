#!/usr/bin/env bash
# The real Linux path, end to end: a QEMU guest (software emulation) with Debian's kernel and a
# busybox initramfs, and 2-4 devices of the production model plugged into its xHCI controller,
# each a kestrel-usb-disk process on the host speaking QEMU's usb-redir protocol. Inside, the
# kernel's usb-storage, sd and sg drivers carry every command; kestrel-cli programs and verifies
# every device through its /dev/sgN node (isp verify), then one device is unplugged and plugged
# back through the QEMU monitor and kestrel-vm-probe checks that the device set takes both
# events from the devices layer's libudev monitor.
#
#   run_guest.sh BUILD_DIR [--devices N] [--fault KIND@N] [--udev] [--time-limit SECONDS] [--keep]
#
# --fault gives the first device a deliberate fault (kestrel-usb-disk --fault: bad-csw-signature,
# stalled-bulk-in or pull, after N vendor commands); the run must then end in time with that
# device failed, the others programmed, and no kernel oops. --udev runs the host's udev daemon in
# the guest with the station's rule (platform/devices/70-kestrel-station.rules) instead of loading
# sg by hand: the rule must load sg, make each device's node 0660 and mark its disk for the
# desktop to ignore. The guest's console is
# the log (printed at the end). Exit 0 on success, 1 on failure, 77 when the packages are
# missing (ctest reports a skip).
set -euo pipefail

build="$(cd "${1:?usage: run_guest.sh BUILD_DIR [options]}" && pwd)"
shift
devices=3
fault=""
limit=170
keep=0
udev=0
while [ $# -gt 0 ]; do
    case "$1" in
        --devices) devices="$2"; shift 2 ;;
        --fault) fault="$2"; shift 2 ;;
        --time-limit) limit="$2"; shift 2 ;;
        --keep) keep=1; shift ;;
        --udev) udev=1; shift ;;
        *) echo "run_guest.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
[ "$devices" -ge 2 ] && [ "$devices" -le 4 ] || { echo "--devices: 2 to 4" >&2; exit 2; }

skip() { echo "SKIP: $*"; exit 77; }
command -v qemu-system-x86_64 > /dev/null || skip "qemu-system-x86_64 is not installed"
busybox=/bin/busybox
{ [ -x "$busybox" ] && ! ldd "$busybox" > /dev/null 2>&1; } || skip "busybox-static is not installed"
kernel="$(ls /boot/vmlinuz-* 2> /dev/null | sort -V | tail -n 1 || true)"
[ -n "$kernel" ] || skip "no kernel in /boot (linux-image-amd64)"
[ -r "$kernel" ] || skip "$kernel is not readable by $(id -un)"
kver="${kernel#/boot/vmlinuz-}"
[ -d "/lib/modules/$kver" ] || skip "no modules for $kver"
command -v cpio > /dev/null || skip "cpio is not installed"
cli="$build/cli/kestrel-cli"
disk="$build/usbdisk/kestrel-usb-disk"
probe="$build/tests/vm/kestrel-vm-probe"
[ -x "$disk" ] || skip "kestrel-usb-disk was not built (libusbredirparser-dev)"
[ $udev -eq 0 ] || [ -x /bin/udevadm ] || skip "udev is not installed"
for f in "$cli" "$probe"; do
    [ -x "$f" ] || { echo "FAIL: $f was not built"; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/kestrel-vm.XXXXXX")"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2> /dev/null || true
    done
    wait 2> /dev/null || true
    if [ "$keep" -eq 1 ]; then
        echo "work directory kept: $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
started=$SECONDS

# ---- the workspace: small images (a few hundred KiB in all), the demo's simulated devices
"$cli" demo-workspace "$work/ws" --boot-kib 32 --firmware-kib 32 --filler-kib 64 --romfs-mb 2 \
    > /dev/null
# The first device refuses two page reads (CHECK CONDITION, HARDWARE ERROR sense): the station's
# own retry must carry the run through, and the kernel must not retry on its own.
awk '{print} /^\[device\]/ && !done {print "fail = 13:2:31:10"; done = 1}' "$work/ws/devices.ini" \
    > "$work/devices.ini" && mv "$work/devices.ini" "$work/ws/devices.ini"

# ---- the initramfs
root="$work/root"
mkdir -p "$root"/{bin,dev,proc,sys,tmp,run,etc,lib/kmod}
cp "$busybox" "$root/bin/busybox"
libdirs=""
copy_program() { # copy_program FILE: the program and every shared object it loads, same paths
    cp "$1" "$root/bin/"
    local lib
    for lib in $(ldd "$1" | awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}'); do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
        case ":$libdirs:" in *":$(dirname "$lib"):"*) ;; *) libdirs="$libdirs:$(dirname "$lib")" ;; esac
    done
}
copy_program "$cli"
copy_program "$probe"
rules="$(cd "$(dirname "$0")/../.." && pwd)/platform/devices/70-kestrel-station.rules"
if [ $udev -eq 1 ]; then
    copy_program /bin/udevadm
    mkdir -p "$root/lib/systemd" "$root/etc/udev/rules.d"
    ln -s /bin/udevadm "$root/lib/systemd/systemd-udevd"
    cp "$rules" "$root/etc/udev/rules.d/"
    # The rule loads sg through libkmod, which looks it up in the module index.
    mkdir -p "$root/lib/modules/$kver/kernel/drivers/scsi"
    cp /lib/modules/"$kver"/modules.{dep,alias,symbols,builtin,builtin.alias}.bin \
        "$root/lib/modules/$kver/"
    cp "/lib/modules/$kver/kernel/drivers/scsi/sg.ko" "$root/lib/modules/$kver/kernel/drivers/scsi/"
fi
# The workspace at the same path as on the host: isp.ini names its images by absolute path.
mkdir -p "$root$work"
cp -r "$work/ws" "$root$work/ws"

# Kernel modules in load order: the xHCI host controller, USB mass storage, the disk and the
# SCSI generic driver.
: > "$root/lib/kmod/order"
for module in xhci-pci usb-storage sd_mod sg; do
    modprobe -S "$kver" --show-depends "$module" | awk '$1 == "insmod" {print $2}'
done | awk '!seen[$0]++' | while read -r ko; do
    # With udev the station's rule loads sg.
    [ $udev -eq 1 ] && [ "$(basename "$ko")" = sg.ko ] && continue
    cp "$ko" "$root/lib/kmod/"
    basename "$ko" >> "$root/lib/kmod/order"
done

mode=hotplug
[ -n "$fault" ] && mode=fault
cat > "$root/init" <<INIT
#!/bin/busybox sh
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
export PATH=/bin LD_LIBRARY_PATH=${libdirs#:} HOME=$work/ws
echo "KESTREL-VM: guest up"
if [ $udev -eq 1 ]; then
    /lib/systemd/systemd-udevd --daemon
    echo "KESTREL-VM: udev daemon started"
fi
for ko in \$(cat /lib/kmod/order); do
    # (an accelerated variant the emulated processor lacks is left out; its generic one loads)
    insmod /lib/kmod/\$ko 2> /dev/null || echo "KESTREL-VM: module \$ko not loaded"
done
model_disks() {
    n=0
    for d in /sys/bus/scsi/devices/*:*:*:*; do
        [ -d "\$d/scsi_generic" ] || continue
        grep -q '^USB DISK' "\$d/vendor" 2>/dev/null && n=\$((n + 1))
    done
    echo \$n
}
i=0
while [ "\$(model_disks)" -lt $devices ] && [ \$i -lt 900 ]; do sleep 0.1; i=\$((i + 1)); done
echo "KESTREL-VM: \$(model_disks) device(s) of the model"
for d in /sys/bus/scsi/devices/*:*:*:*; do
    [ -d "\$d/scsi_generic" ] || continue
    echo "KESTREL-VM: \$(basename \$d) \$(cat \$d/vendor) \$(cat \$d/model) \$(cat \$d/rev) -> /dev/\$(ls \$d/scsi_generic) \$(ls -l /dev/\$(ls \$d/scsi_generic) | cut -c1-10)"
done
if [ $udev -eq 1 ]; then
    udevadm settle --timeout=60
    for node in /dev/sg*; do
        echo "KESTREL-VM: udev: \$node mode \$(stat -c %a \$node)"
    done
    for disk in /sys/block/sd*; do
        # The udev database entry of the disk holds the properties the rule set.
        echo "KESTREL-VM: udev: /dev/\$(basename \$disk) \$(grep -o 'UDISKS_IGNORE=.*' /run/udev/data/b\$(cat \$disk/dev))"
    done
fi
for q in /sys/block/sd*/queue; do
    echo "KESTREL-VM: \$q max_hw_sectors_kb \$(cat \$q/max_hw_sectors_kb) max_sectors_kb \$(cat \$q/max_sectors_kb)"
done
if [ "$mode" = hotplug ]; then
    kestrel-cli --home $work/ws isp --quiet --timeout 120 verify
    echo "KESTREL-VM: isp-verify exit \$?"
else
    # A faulty device is not read back: each of its reads would cost ten failed attempts.
    kestrel-cli --home $work/ws isp --quiet --timeout 45
    echo "KESTREL-VM: isp exit \$?"
fi
if [ "$mode" = hotplug ]; then
    kestrel-vm-probe 1 1 60 /tmp/probe-ready &
    probe=\$!
    i=0
    while [ ! -e /tmp/probe-ready ] && [ \$i -lt 100 ]; do sleep 0.1; i=\$((i + 1)); done
    echo "KESTREL-VM: unplug disk1"
    wait \$probe
    echo "KESTREL-VM: probe exit \$?"
fi
echo "KESTREL-VM: done"
poweroff -f
INIT
chmod +x "$root/init"
(cd "$root" && find . | cpio -o -H newc --quiet) > "$work/initramfs.cpio"

# ---- the devices
for i in $(seq 0 $((devices - 1))); do
    args=(--socket "$work/disk$i.sock" --sim-config "$work/ws/devices.ini" --index "$i")
    [ "$i" -eq 0 ] && [ -n "$fault" ] && args+=(--fault "$fault")
    "$disk" "${args[@]}" 2> "$work/disk$i.log" &
    pids+=($!)
done
for i in $(seq 0 $((devices - 1))); do
    for _ in $(seq 50); do [ -S "$work/disk$i.sock" ] && break; sleep 0.1; done
done

# ---- the guest
mkfifo "$work/monitor.in" "$work/monitor.out"
qemu=(qemu-system-x86_64 -machine pc -accel tcg -m 512 -smp 1 -nodefaults -display none
      -no-reboot -kernel "$kernel" -initrd "$work/initramfs.cpio"
      -append "console=ttyS0 loglevel=7 panic=-1 rdinit=/init cryptomgr.notests no_timer_check"
      -serial "file:$work/console.log" -monitor "pipe:$work/monitor"
      -device qemu-xhci,id=xhci)
for i in $(seq 0 $((devices - 1))); do
    qemu+=(-chardev "socket,id=chr$i,path=$work/disk$i.sock"
           -device "usb-redir,chardev=chr$i,id=disk$i,bus=xhci.0,port=$((i + 1))")
done
"${qemu[@]}" &
qemu_pid=$!
pids+=("$qemu_pid")
exec 3<> "$work/monitor.in" # read-write: opening never waits for QEMU
cat "$work/monitor.out" > "$work/monitor.log" &
pids+=($!)
monitor() { echo "$*" >&3; echo "monitor: $*" >> "$work/host.log"; }

seen() { grep -q "$1" "$work/console.log" 2> /dev/null; }
unplugged=0
replugged=0
timed_out=0
while kill -0 "$qemu_pid" 2> /dev/null; do
    if [ $((SECONDS - started)) -ge "$limit" ]; then
        timed_out=1
        kill "$qemu_pid" 2> /dev/null || true
        break
    fi
    if [ $unplugged -eq 0 ] && seen "KESTREL-VM: unplug disk1"; then
        monitor "device_del disk1"
        unplugged=1
    elif [ $unplugged -eq 1 ] && [ $replugged -eq 0 ] && seen "probe: removal"; then
        monitor "chardev-add socket,id=chr1b,path=$work/disk1.sock"
        monitor "device_add usb-redir,chardev=chr1b,id=disk1b,bus=xhci.0,port=2"
        replugged=1
    fi
    sleep 0.2
done
wait "$qemu_pid" 2> /dev/null || true
exec 3>&-
elapsed=$((SECONDS - started))

# ---- the verdict
console="$work/console.log"
echo "===== guest console ====="
cat "$console"
for i in $(seq 0 $((devices - 1))); do
    echo "===== device $i (host side) ====="
    cat "$work/disk$i.log"
done
echo "===== verdict ====="
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect() { grep -q -- "$1" "$console" || fail "$2"; }
[ $timed_out -eq 0 ] || fail "the guest did not finish within $limit s"
expect "KESTREL-VM: done" "the guest did not reach its end"
expect "KESTREL-VM: $devices device(s) of the model" "the guest did not see $devices devices"
# Kernel lines that no run may show.
if grep -E "Call Trace|Oops|BUG:|general protection|Kernel panic" "$console"; then
    fail "the kernel reported a fault"
fi
results="$(grep -E '^[0-9]+ +(ok|FAILED) ' "$console" || true)"
verified="$(grep -c -- '-> VERIFIED' "$console" || true)"
if [ -z "$fault" ]; then
    expect "KESTREL-VM: isp-verify exit 0" "isp verify did not succeed"
    [ "$(echo "$results" | grep -c ' ok ')" -eq "$devices" ] ||
        fail "not every device was programmed"
    [ "$verified" -ge "$devices" ] || fail "not every device was verified"
    ! grep -q -- '-> MISMATCH' "$console" || fail "a device read back differently"
    # Error lines of the kernel about the devices.
    if grep -E "reset high-speed USB device|I/O error|timing out command|FAILED Result|Medium not present|Write Protect is on|usb-storage.*error" "$console"; then
        fail "the kernel reported errors about the devices"
    fi
    expect "probe: removal" "the device set saw no removal"
    expect "probe: arrival" "the device set saw no arrival"
    expect "KESTREL-VM: probe exit 0" "the hot-plug probe failed"
else
    expect "KESTREL-VM: isp exit 1" "the faulty device did not fail the run cleanly"
    echo "$results" | grep -qE '^0 +FAILED' || fail "the faulty device 0 was not reported failed"
    [ "$(echo "$results" | grep -c ' ok ')" -eq $((devices - 1)) ] ||
        fail "the devices without fault were not all programmed"
fi
if [ $udev -eq 1 ]; then
    [ "$(grep -c "KESTREL-VM: udev: /dev/sg[0-9]* mode 660" "$console")" -eq "$devices" ] ||
        fail "the udev rule did not make every device's node 0660"
    [ "$(grep -c "KESTREL-VM: udev: /dev/sd[a-z] UDISKS_IGNORE=1" "$console")" -eq "$devices" ] ||
        fail "the udev rule did not hide every device's disk from the desktop"
fi
echo "guest run: $elapsed s, $devices devices${fault:+, fault $fault on device 0}"
if [ $failures -ne 0 ]; then
    keep=1
    exit 1
fi
echo "PASS"
