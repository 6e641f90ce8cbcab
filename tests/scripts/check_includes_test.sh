#!/usr/bin/env bash
# The folder-rule check must pass a tree that keeps the rules and fail, naming the file,
# on each kind of break. Runs the check over small scratch trees.
set -uo pipefail
check="$(cd "$(dirname "$0")/../.." && pwd)/scripts/check_includes.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0

make_tree() {  # a small tree that keeps every rule
  rm -rf "$scratch/tree"
  mkdir -p "$scratch/tree"/{app,cli,session,platform,flash,drive/linux,image,tests/app}
  cd "$scratch/tree" || exit 2
  printf '#include <QWidget>\n#include "session/startup.h"\n' >app/form.cpp
  printf '#include "session/startup.h"\n#include <cstdio>\n' >cli/main.cpp
  printf '#include "flash/engine.h"\n' >session/startup.cpp
  printf '#include <sys/file.h>\n' >platform/lock.cpp
  printf '#include <scsi/sg.h>\n#include <sys/ioctl.h>\n' >drive/linux/port.cpp
  printf '#include "drive/atapi.h"\n#include "image/image.h"\n' >flash/engine.cpp
  printf '#include <QTest>\n#include "app/form.h"\n' >tests/app/test_form.cpp
}

expect() {  # expect PASS|FAIL DESCRIPTION [TEXT the output must hold]
  local want=$1 what=$2 text=${3:-}
  local out rc
  out=$(bash "$check" "$scratch/tree" 2>&1)
  rc=$?
  if { [ "$want" = PASS ] && [ $rc -ne 0 ]; } || { [ "$want" = FAIL ] && [ $rc -ne 1 ]; } ||
     { [ -n "$text" ] && ! grep -qF "$text" <<<"$out"; }; then
    echo "FAILED: $what (exit $rc)"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok: $what"
  fi
}

make_tree
expect PASS "a tree that keeps the rules"

make_tree; printf '#include <QString>\n' >>flash/engine.cpp
expect FAIL "Qt outside app/" "flash/engine.cpp:3"

make_tree; printf '#include <sys/ioctl.h>\n' >>drive/atapi.cpp
expect FAIL "system header in drive/ above drive/linux/" "drive/atapi.cpp:1"

make_tree; printf '#  include <linux/fs.h>\n' >>cli/main.cpp
expect FAIL "system header in a front end" "cli/main.cpp:3"

make_tree; printf '#include "emulator/virtual_drive.h"\n' >>flash/engine.cpp
expect FAIL "flash/ including the emulator" "flash/ must not include emulator/"

make_tree; printf '#include "cli/cli_port.h"\n' >>app/form.cpp
expect FAIL "the window including the terminal front end" "only cli/ includes cli/"

make_tree; printf '#include "app/form1.h"\n' >>session/startup.cpp
expect FAIL "a lower layer including the window" "only app/ includes app/"

make_tree; mkdir -p flash/build; printf '#include <QString>\n' >flash/build/generated.h
expect PASS "build trees are not sources"

if [ $failures -ne 0 ]; then
  echo "$failures case(s) failed"
  exit 1
fi
echo "all cases passed"
