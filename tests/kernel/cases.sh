# The cases the guest runs (sourced by the guest's /init; run_case is defined there).
# Each case gets a fresh virtual drive. CASE_SETUP runs once the drive is attached;
# CASE_AFTER once the case's program has ended, before the drive goes.
# Reading a drive's memory for the backup takes twice as long as the verification under
# the emulated machine: the cases about something else pass --no-backup, the flashes of
# passthrough-default, aspi-default, backup-and-restore and user-passthrough keep it.

run_case passthrough-default default 0 root "Firmware Verify ok!!" -- --yes

# A desktop's udisks has the kernel poll an optical drive for media events every 2 s; the
# kernel stops only while the drive is held exclusively for writing. From the first bank
# download to the program's last command, the drive hears from nobody but the program.
CASE_SETUP='echo 200 >/sys/block/sr0/events_poll_msecs'
CASE_AFTER='only_program_commands /tmp/polled.jsonl || ok=0'
run_case no-polling-during-flash default 0 root "Firmware Verify ok!!" -- --yes --no-backup \
  --record /tmp/polled.jsonl
run_case aspi-default default 0 root "Firmware Verify ok!!" -- --yes --transport=aspi

# A run keeps a backup of what it overwrites, read through the kernel before the first
# write; --restore flashes it back onto the same drive.
CASE_AFTER='restore_backup || ok=0'
run_case backup-and-restore default 0 root "Backup saved: /root/.local/state/tavoflash/backups/" \
  "1.05 -> 1.08" "Firmware Verify ok!!" -- --yes

run_case passthrough-unsupported unsupported 3 root \
  "Status:0x2 ; Err:Flash command(W) has problems." \
  "Err:The firmware is not support this device!!(7)" -- --yes --no-backup
run_case aspi-commit-unit-attention commit-unit-attention 3 root \
  "Status:4;SenseCode:6 : 29 : 0;" "Err:Flash Fail." -- --yes --no-backup --transport=aspi

# One drive, one program: a second program on /dev/sr0 while a run flashes it is refused
# and sends nothing; the first run still verifies.
CASE_SETUP='tavoflash-cli --yes --no-backup >/tmp/first 2>&1 & first=$!; wait_for 60 grep -qF "Flashing .." /tmp/first'
CASE_AFTER='wait $first; sed "s/^/    first| /" /tmp/first; grep -qF "Firmware Verify ok!!" /tmp/first || { echo "    the first run did not verify"; ok=0; }'
run_case second-program-refused default 4 root \
  "Err:/dev/sr0 is being flashed by another program." -- --yes

# A drive another program holds exclusively (as a mount does) is refused before flashing.
CASE_SETUP='rm -f /tmp/held; tavo-hold-exclusive /dev/sr0 /tmp/held & holder=$!; wait_for 10 test -e /tmp/held'
CASE_AFTER='kill $holder; wait $holder'
run_case held-exclusively-refused default 4 root \
  "Err:/dev/sr0 is in use (a mounted disc or another program)." -- --yes

# What a desktop session's uaccess grants: read/write on the drive's node for the user.
CASE_SETUP='chown 1000 /dev/sr0; chmod 600 /dev/sr0'
run_case user-passthrough default 0 tester "Firmware Verify ok!!" -- --yes

# No permission on either node: the program must say so plainly and fail.
CASE_SETUP='chown 0:0 /dev/sr0 /dev/sg0; chmod 600 /dev/sr0 /dev/sg0'
run_case user-denied default nonzero tester "was refused. Add your user to the 'cdrom' group" -- --yes
