#!/bin/busybox sh
# /init of the test guest. Loads the USB gadget and SCSI modules, serves one virtual drive
# per case through FunctionFS on dummy_hcd (the guest's own usb-storage, sr and sg drivers
# attach to it), runs tavoflash-cli against /dev/sr0 or /dev/sg0 and prints one line per
# case: "PASS name" or "FAIL name". Powers off at the end.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin:/usr/local/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp /run /dev/ffs
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
chmod 1777 /tmp

echo "GUEST up: $(uname -r)"
for m in configfs dummy_hcd libcomposite usb_f_fs usb-storage sr_mod sg; do
  modprobe "$m" || echo "GUEST modprobe $m failed"
done
mount -t configfs configfs /sys/kernel/config

G=/sys/kernel/config/usb_gadget/tavo
mkdir "$G"
echo 0x1d6b >"$G/idVendor"
echo 0x0104 >"$G/idProduct"
mkdir "$G/strings/0x409"
echo TAVO >"$G/strings/0x409/manufacturer"
echo "Virtual optical drive" >"$G/strings/0x409/product"
echo 0001 >"$G/strings/0x409/serialnumber"
mkdir "$G/configs/c.1"
mkdir "$G/functions/ffs.drive"
ln -s "$G/functions/ffs.drive" "$G/configs/c.1/"
mount -t functionfs drive /dev/ffs

# An unprivileged user, as a desktop session's user would be.
mkdir -p /home/tester /run/user/0 /run/user/1000
chown 1000:1000 /home/tester /run/user/1000
chmod 700 /run/user/0 /run/user/1000

udc=$(ls /sys/class/udc | head -n 1)
drive_pid=""

wait_for() {  # wait_for SECONDS TEST...
  local n=$(($1 * 10))
  shift
  while ! "$@"; do
    n=$((n - 1))
    [ "$n" -le 0 ] && return 1
    usleep 100000
  done
}

start_drive() {  # start_drive PROFILE: a fresh virtual drive on /dev/sr0 and /dev/sg0
  rm -f /tmp/drive.ready
  tavo-usb-drive /dev/ffs "$1" /tmp/drive.ready /tmp/drive.commands 2>>/tmp/drive.log &
  drive_pid=$!
  wait_for 20 test -e /tmp/drive.ready || { echo "GUEST drive $1 did not start"; return 1; }
  echo "$udc" >"$G/UDC" || return 1
  wait_for 60 test -b /dev/sr0 -a -c /dev/sg0 || { echo "GUEST no /dev/sr0 or /dev/sg0"; return 1; }
}

stop_drive() {
  echo "" >"$G/UDC" 2>/dev/null
  [ -n "$drive_pid" ] && kill "$drive_pid" 2>/dev/null && wait "$drive_pid" 2>/dev/null
  drive_pid=""
  wait_for 30 test ! -e /dev/sr0 -a ! -e /dev/sg0
}

# only_program_commands RECORDING: from the program's first bank download to its last
# command, the drive received exactly the program's commands, in order: nobody else (the
# kernel's media polling included) reached the drive in between.
only_program_commands() {
  grep -o '"cdb":"[0-9a-fA-F]*"' "$1" | cut -d'"' -f4 | tr 'A-F' 'a-f' >/tmp/program.cdbs
  local first
  first=$(grep -n '^5a........a0' /tmp/program.cdbs | head -n 1 | cut -d: -f1)
  [ -n "$first" ] || { echo "    the recording holds no bank download"; return 1; }
  tail -n +"$first" /tmp/program.cdbs >/tmp/program.tail
  local count start
  count=$(wc -l </tmp/program.tail)
  start=$(grep -n "^$(head -n 1 /tmp/program.tail)\$" /tmp/drive.commands | head -n 1 | cut -d: -f1)
  [ -n "$start" ] || { echo "    the drive never got the first bank download"; return 1; }
  tail -n +"$start" /tmp/drive.commands | head -n "$count" >/tmp/drive.tail
  if ! cmp -s /tmp/program.tail /tmp/drive.tail; then
    echo "    the drive got commands the program did not send during the flash:"
    diff /tmp/program.tail /tmp/drive.tail | head -n 10 | sed 's/^/    /'
    return 1
  fi
}

# restore_backup: the case's program flashed 1.05 -> 1.08 and named the backup it made
# first ("Backup saved: FILE" in /tmp/out). That backup, flashed back with --restore onto
# the same drive (the drive server keeps its memory while it runs), must verify, and the
# drive must then report 1.05 again. The restore's own backup (of 1.08) is left out: it
# is the same reading as the first run's.
restore_backup() {
  local backup rc p
  backup=$(sed -n 's/^Backup saved: //p' /tmp/out | head -n 1)
  [ -f "$backup" ] || { echo "    no backup file named: '$backup'"; return 1; }
  grep -q '"revision": *"1.05"' "${backup%.bin}.json" ||
    { echo "    the backup's manifest does not name revision 1.05:"; cat "${backup%.bin}.json"; return 1; }
  env HOME=/root XDG_RUNTIME_DIR=/run/user/0 tavoflash-cli --restore "$backup" --yes --no-backup \
    >/tmp/restore 2>&1
  rc=$?
  sed 's/^/    restore| /' /tmp/restore
  [ "$rc" -eq 0 ] || { echo "    the restore exited $rc"; return 1; }
  for p in "from 1.08 to 1.05" "Firmware Verify ok!!" "1.08 -> 1.05"; do
    grep -qF -- "$p" /tmp/restore || { echo "    the restore lacks the line: $p"; return 1; }
  done
  env HOME=/root XDG_RUNTIME_DIR=/run/user/0 tavoflash-cli --list >/tmp/list 2>&1
  sed 's/^/    list| /' /tmp/list
  grep -F /dev/sr0 /tmp/list | grep -qF " 1.05 " ||
    { echo "    the drive does not report 1.05 after the restore"; return 1; }
}

failures=0
report() {  # report NAME OK
  if [ "$2" = 1 ]; then echo "PASS $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}

# run_case NAME PROFILE EXPECTED_EXIT USER PATTERN... -- CLI_ARGS...
# USER is root or tester; every PATTERN must appear as a fixed string in the output.
run_case() {
  local name=$1 profile=$2 expect=$3 user=$4
  shift 4
  local patterns=""
  while [ "$1" != "--" ]; do
    patterns="$patterns
$1"
    shift
  done
  shift
  echo "=== case $name (profile $profile, as $user): tavoflash-cli $*"
  local started
  started=$(date +%s)
  if ! start_drive "$profile"; then
    report "$name" 0
    stop_drive
    return
  fi
  [ -n "$CASE_SETUP" ] && eval "$CASE_SETUP"
  local rc
  if [ "$user" = root ]; then
    env HOME=/root XDG_RUNTIME_DIR=/run/user/0 tavoflash-cli "$@" >/tmp/out 2>&1
    rc=$?
  else
    # su as root asks for no password; the arguments of the cases need no quoting.
    su -s /bin/sh -c "exec env HOME=/home/tester XDG_RUNTIME_DIR=/run/user/1000 \
      /usr/local/bin/tavoflash-cli $*" tester >/tmp/out 2>&1
    rc=$?
  fi
  sed 's/^/    | /' /tmp/out
  local ok=1
  if [ "$expect" = nonzero ]; then
    [ "$rc" -ne 0 ] || ok=0
  else
    [ "$rc" -eq "$expect" ] || ok=0
  fi
  [ "$ok" = 1 ] || echo "    exit $rc, expected $expect"
  local IFS='
'
  for p in $patterns; do
    grep -qF -- "$p" /tmp/out || { echo "    missing line: $p"; ok=0; }
  done
  unset IFS
  # CASE_AFTER may look at what CASE_SETUP started, and fail the case (ok=0).
  [ -n "$CASE_AFTER" ] && eval "$CASE_AFTER"
  echo "    the case took $(($(date +%s) - started)) s"
  report "$name" "$ok"
  CASE_SETUP=""
  CASE_AFTER=""
  stop_drive
}

. /cases.sh

if [ -s /tmp/drive.log ]; then
  echo "--- drive log"
  cat /tmp/drive.log
fi
echo "GUEST DONE failures=$failures"
poweroff -f
