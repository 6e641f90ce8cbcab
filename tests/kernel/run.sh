#!/usr/bin/env bash
# Runs tavoflash-cli under a real Linux kernel: boots Debian's kernel in qemu (TCG) with a
# small initramfs in which a virtual drive, served through FunctionFS on dummy_hcd, is seen
# by the guest's usb-storage, sr and sg drivers as an optical drive. The guest runs the
# cases of cases.sh and prints "PASS name" / "FAIL name"; this script fails when a case
# fails, a case is missing, or the guest does not power off in time.
#
# usage: run.sh TAVOFLASH_CLI USB_DRIVE WORK_DIR [HOLD_EXCLUSIVE]
#   WORK_DIR keeps the downloaded packages, so a rerun needs no network.
#   HOLD_EXCLUSIVE: the helper that holds /dev/sr0 with O_EXCL in the guest (the cases
#   that use it fail without it).
set -euo pipefail

if [ $# -ne 3 ] && [ $# -ne 4 ]; then
  echo "usage: $0 TAVOFLASH_CLI USB_DRIVE WORK_DIR [HOLD_EXCLUSIVE]" >&2
  exit 2
fi
cli=$(realpath "$1")
drive=$(realpath "$2")
work=$(realpath -m "$3")
hold=${4:+$(realpath "$4")}
here=$(dirname "$(realpath "$0")")
repo=$(realpath "$here/../..")
guest_timeout=${TAVO_VM_TIMEOUT:-900}
cases=${TAVO_VM_CASES:-$here/cases.sh}  # another case list, for debugging

bash "$repo/scripts/deps.sh" qemu-system-x86 busybox-static cpio kmod

cache="$work/cache"
mkdir -p "$cache"

# The kernel package: whatever linux-image-amd64 points at, downloaded once and kept.
deb=$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | head -n 1 || true)
if [ -z "$deb" ]; then
  name=$(apt-cache depends linux-image-amd64 2>/dev/null |
    awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  if [ -z "$name" ]; then
    apt-get update -qq
    name=$(apt-cache depends linux-image-amd64 | awk '/Depends: linux-image-[0-9]/ {print $2; exit}')
  fi
  (cd "$cache" && apt-get download -q -o APT::Sandbox::User=root "$name")
  deb=$(ls "$cache"/linux-image-*-amd64_*.deb | head -n 1)
fi
kdir="$cache/kernel"
if [ ! -e "$kdir/.unpacked" ] || [ "$kdir/.unpacked" -ot "$deb" ]; then
  rm -rf "$kdir"
  mkdir -p "$kdir"
  dpkg-deb -x "$deb" "$kdir"
  touch "$kdir/.unpacked"
fi
kver=$(ls "$kdir/lib/modules" | head -n 1)
vmlinuz="$kdir/boot/vmlinuz-$kver"
[ -e "$kdir/lib/modules/$kver/modules.dep" ] || depmod -b "$kdir" "$kver"

# The initramfs: static busybox, the modules the guest loads (with what they depend on),
# the program and the drive server with their shared libraries, /init and the cases.
root="$work/initramfs"
rm -rf "$root"
mkdir -p "$root"/{bin,sbin,etc,root,proc,sys,dev,usr/local/bin,lib/modules/"$kver"}
cp /bin/busybox "$root/bin/busybox"
ln -s /bin/busybox "$root/sbin/modprobe"

for m in configfs dummy_hcd libcomposite usb_f_fs usb-storage sr_mod sg; do
  modprobe -d "$kdir" -S "$kver" --show-depends "$m" | awk '$1 == "insmod" {print $2}'
done | sort -u | while read -r ko; do
  rel=${ko#"$kdir"/}
  mkdir -p "$root/$(dirname "$rel")"
  cp "$ko" "$root/$rel"
done
cp "$kdir/lib/modules/$kver"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$kver/"
depmod -b "$root" "$kver"

cp "$cli" "$root/usr/local/bin/tavoflash-cli"
cp "$drive" "$root/usr/local/bin/tavo-usb-drive"
[ -n "$hold" ] && cp "$hold" "$root/usr/local/bin/tavo-hold-exclusive"
for bin in "$cli" "$drive" ${hold:+"$hold"}; do
  ldd "$bin" | awk '/=> \// {print $3} /^\t\/[^ ]+ \(/ {print $1}'
done | sort -u | while read -r lib; do
  mkdir -p "$root/$(dirname "$lib")"
  cp -L "$lib" "$root/$lib"
done

cat >"$root/etc/passwd" <<'PASSWD'
root:x:0:0:root:/root:/bin/sh
tester:x:1000:1000:tester:/home/tester:/bin/sh
PASSWD
cat >"$root/etc/group" <<'GROUP'
root:x:0:
cdrom:x:24:
tester:x:1000:
GROUP
cp "$here/guest_init.sh" "$root/init"
cp "$cases" "$root/cases.sh"
chmod 755 "$root/init"

initrd="$work/initramfs.cpio.gz"
(cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$initrd"

# Boot. The guest powers itself off after the last case; -no-reboot turns a panic into an
# exit, and the hard time-out catches a hang. The boot under TCG takes minutes: the guest's
# own lines (GUEST, PASS, FAIL) are shown as they come, and a line with the elapsed time and
# the cases passed so far at least every 15 s, so that a long silence means a hang.
log="$work/console.log"
: >"$log"
expected=$(grep -c "^run_case " "$cases")
echo "kernel_vm: booting $kver, $expected cases (log: $log)"
timeout -k 10 "$guest_timeout" qemu-system-x86_64 -accel tcg -m 1536 -smp 1 \
  -nodefaults -display none -no-reboot -serial "file:$log" \
  -kernel "$vmlinuz" -initrd "$initrd" \
  -append "console=ttyS0 panic=-1 quiet loglevel=3" &
qemu_pid=$!
trap 'kill "$qemu_pid" 2>/dev/null || true' EXIT
shown=0
started=$SECONDS
last_line=$SECONDS
show_new_lines() {
  local total lines
  total=$(wc -l <"$log") # complete lines only: a line still being written waits
  lines=$(sed -n "$((shown + 1)),${total}p" "$log" | grep -a -E '^(GUEST|PASS|FAIL) ' || true)
  shown=$total
  if [ -n "$lines" ]; then
    printf '%s\n' "$lines"
    last_line=$SECONDS
  fi
}
while kill -0 "$qemu_pid" 2>/dev/null; do
  sleep 2
  show_new_lines
  if [ $((SECONDS - last_line)) -ge 15 ]; then
    echo "kernel_vm: $((SECONDS - started)) s, $(grep -c '^PASS ' "$log" || true) of $expected cases passed"
    last_line=$SECONDS
  fi
done
set +e
wait "$qemu_pid"
qemu_rc=$?
set -e
trap - EXIT
show_new_lines

passed=$(grep -c '^PASS ' "$log" || true)
failed=$(grep -c '^FAIL ' "$log" || true)
verdict=""
if [ "$qemu_rc" -ne 0 ]; then
  verdict="the guest did not power off within ${guest_timeout}s (qemu exit $qemu_rc)"
elif ! grep -q '^GUEST DONE' "$log"; then
  verdict="the guest stopped before finishing its cases"
elif [ "$failed" -ne 0 ] || [ "$passed" -ne "$expected" ]; then
  verdict="not every case passed"
fi
if [ -n "$verdict" ]; then
  echo "kernel_vm: the guest's whole console:"
  cat "$log"
  echo "kernel_vm: $verdict"
fi
echo "kernel_vm: $passed passed, $failed failed, $expected expected"
[ -z "$verdict" ]
