#!/usr/bin/env bash
# Checks the folder rules of the source tree and prints every include that breaks one:
#   - Qt headers only in app/ (and its tests and benchmarks);
#   - <sys/...>, <linux/...> and <scsi/...> only in drive/linux/ and platform/ (tests may
#     use them to build fakes and the kernel test);
#   - flash/ includes nothing from emulator/, session/, platform/, app/ or cli/;
#   - nothing outside cli/ (and its tests) includes cli/; nothing below the front ends
#     includes app/.
# Usage: check_includes.sh [ROOT]   (default: the repository holding this script)
# Exit status 0 when the tree keeps every rule, 1 when it breaks one.
set -uo pipefail
root=${1:-"$(cd "$(dirname "$0")/.." && pwd)"}
cd "$root" || exit 2

sources() {  # every C++ source under the given folders, build trees left out
  local dir
  for dir in "$@"; do
    [ -d "$dir" ] || continue
    find "$dir" -path '*/build' -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print
  done | sort
}

broken=0
report() {  # file:line:text, then the rule
  broken=1
  printf '%s\n    breaks: %s\n' "$1" "$2"
}

# includes FILES... -> "file:line:#include ..." lines
includes() {
  [ $# -gt 0 ] || return 0
  grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$@" || true
}

product=(app cli session platform flash drive image emulator firmware)

mapfile -t files < <(sources "${product[@]}" tests)
while IFS= read -r hit; do
  [ -n "$hit" ] || continue
  file=${hit%%:*}
  # Matched in the shell itself: a process per include line made this check take a minute
  # on a busy machine.
  [[ "$hit" =~ ^[^#]*#[[:space:]]*include[[:space:]]*[\<\"]([^\"\>]+)[\"\>] ]] || continue
  target=${BASH_REMATCH[1]}
  case "$file" in tests/*) in_tests=1 ;; *) in_tests=0 ;; esac

  # Qt only in the window and its tests.
  if [[ "$target" =~ ^Q[A-Za-z]*(/|$) || "$target" =~ ^qt ]]; then
    case "$file" in app/* | tests/app/* | tests/bench/*) ;; *) report "$hit" "Qt headers belong in app/ only" ;; esac
  fi
  # Operating-system interfaces only in the platform layers.
  if [[ "$target" =~ ^(sys|linux|scsi)/ ]] && [ "$in_tests" -eq 0 ]; then
    case "$file" in drive/linux/* | platform/*) ;; *)
      report "$hit" "<sys/...>, <linux/...> and <scsi/...> belong in drive/linux/ and platform/" ;;
    esac
  fi
  # The flash procedure sees only drive/ and image/ (and itself).
  if [[ "$file" == flash/* && "$target" =~ ^(emulator|session|platform|app|cli)/ ]]; then
    report "$hit" "flash/ must not include ${target%%/*}/"
  fi
  # Front ends stand side by side: nobody else includes them.
  if [[ "$target" == cli/* ]]; then
    case "$file" in cli/* | tests/cli/*) ;; *) report "$hit" "only cli/ includes cli/" ;; esac
  fi
  if [[ "$target" == app/* ]]; then
    case "$file" in app/* | tests/app/* | tests/bench/*) ;; *) report "$hit" "only app/ includes app/" ;; esac
  fi
done < <(includes "${files[@]}")

if [ "$broken" -ne 0 ]; then
  echo "check_includes: the folder rules above are broken" >&2
  exit 1
fi
echo "check_includes: ${#files[@]} files keep the folder rules"
