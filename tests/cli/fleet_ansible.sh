#!/usr/bin/env bash
# docs/fleet.yml run by the real ansible-playbook against three "machines" on this one, over
# the local connection, each with a virtual drive and its own run logs and locks: a drive
# to flash (Ansible reports changed), a drive already at the image's revision (ok, not
# changed) and a drive whose verification fails (failed).
# Usage: fleet_ansible.sh CLI PLAYBOOK
set -uo pipefail
cli=$1
playbook=$2
command -v ansible-playbook >/dev/null || { echo "SKIP: ansible-playbook is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/inventory.yml" <<INVENTORY
all:
  vars:
    ansible_connection: local
    ansible_python_interpreter: $(command -v python3)
    tavoflash_cli: $cli
    tavoflash_environment:
      XDG_STATE_HOME: "$work/{{ inventory_hostname }}/state"
      XDG_RUNTIME_DIR: "$work/{{ inventory_hostname }}/runtime"
      TAVOFLASH_LOCK_DIR: "$work/{{ inventory_hostname }}/locks"
      TAVOFLASH_TRANSPORT: ""
      DBUS_SYSTEM_BUS_ADDRESS: "unix:path=$work/no-system-bus"
  hosts:
    to-flash: {tavoflash_args: ["--emulate=default"]}
    current: {tavoflash_args: ["--emulate=current"]}
    bad-verify: {tavoflash_args: ["--emulate=bad-verify"]}
INVENTORY
# An empty configuration of its own: nothing from /etc/ansible or the user applies.
printf "[defaults]\n" >"$work/ansible.cfg"
for h in to-flash current bad-verify; do mkdir -p "$work/$h/state" "$work/$h/runtime" "$work/$h/locks"; done

HOME=$work ANSIBLE_LOCAL_TEMP=$work/tmp ANSIBLE_REMOTE_TEMP=$work/tmp ANSIBLE_NOCOLOR=1 \
  ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_CONFIG=$work/ansible.cfg \
  ansible-playbook -i "$work/inventory.yml" "$playbook" >"$work/out" 2>&1
rc=$?

fail() {
  echo "FAIL: $*"
  cat "$work/out"
  exit 1
}
# The recap line of a host: "NAME : ok=2 changed=1 unreachable=0 failed=0 ...".
recap() { grep -E "^$1 +: " "$work/out" | tr -s ' '; }
[ "$rc" -eq 2 ] || fail "ansible-playbook ended with $rc, expected 2 (a host failed)"
recap to-flash | grep -q "changed=1 unreachable=0 failed=0" || fail "to-flash is not changed"
recap current | grep -q "ok=2 changed=0 unreachable=0 failed=0" || fail "current is not ok"
recap bad-verify | grep -q "failed=1" || fail "bad-verify did not fail"
grep -qF '"rc": 3' "$work/out" || fail "bad-verify did not end with exit status 3"
grep -qF "Nothing to do: already at 1.08" "$work/out" || fail "current did not say so"
echo "ok: changed, ok and failed as expected"
