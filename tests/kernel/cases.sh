# The cases the guest runs (sourced by the guest's /init; run_case is defined there).
# Each case gets a fresh virtual drive. CASE_SETUP runs once the drive is attached.

run_case passthrough-default default 0 root "Firmware Verify ok!!" -- --yes
run_case aspi-default default 0 root "Firmware Verify ok!!" -- --yes --transport=aspi

run_case passthrough-unsupported unsupported 1 root \
  "Status:0x2 ; Err:Flash command(W) has problems." \
  "Err:The firmware is not support this device!!(7)" -- --yes
run_case aspi-commit-unit-attention commit-unit-attention 1 root \
  "Status:4;SenseCode:6 : 29 : 0;" "Err:Flash Fail." -- --yes --transport=aspi

# What a desktop session's uaccess grants: read/write on the drive's node for the user.
CASE_SETUP='chown 1000 /dev/sr0; chmod 600 /dev/sr0'
run_case user-passthrough default 0 tester "Firmware Verify ok!!" -- --yes

# No permission on either node: the program must say so plainly and fail.
CASE_SETUP='chown 0:0 /dev/sr0 /dev/sg0; chmod 600 /dev/sr0 /dev/sg0'
run_case user-denied default nonzero tester "was refused. Add your user to the 'cdrom' group" -- --yes
