#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks it: control fields, file list,
# desktop-file-validate, appstreamcli validate, lintian (no errors), the manuals render
# without groff warnings, the completion offers the program's own profile and transport
# names, and the programs run from the unpacked package and from a `cmake --install` tree.
#
# usage: check.sh SOURCE_DIR WORK_DIR VERSION
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 SOURCE_DIR WORK_DIR VERSION" >&2
  exit 2
fi
src=$(realpath "$1")
work=$(realpath -m "$2")
version=$3
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The build's lines are shown as they come (a whole release build takes minutes).
mkdir -p "$work"
bash "$src/scripts/package.sh" "$work/build" | tee "$work/package.log"
deb=$(tail -n 1 "$work/package.log")
echo "package: $deb"

# Control fields.
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tavoflash ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -z "$(field Homepage)" ] || fail "Homepage given: $(field Homepage)"
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6widgets6 libarchive13 zlib1g; do # computed by dpkg-shlibdeps
  grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -qw bash-completion <<<"$(field Recommends)" ||
  fail "Recommends lacks bash-completion: '$(field Recommends)'"

# File list.
list=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for path in \
  /usr/bin/tavoflash \
  /usr/bin/tavoflash-cli \
  /usr/share/applications/tavoflash.desktop \
  /usr/share/icons/hicolor/scalable/apps/tavoflash.svg \
  /usr/share/icons/hicolor/48x48/apps/tavoflash.png \
  /usr/share/icons/hicolor/128x128/apps/tavoflash.png \
  /usr/share/man/man1/tavoflash.1.gz \
  /usr/share/man/man1/tavoflash-cli.1.gz \
  /usr/share/bash-completion/completions/tavoflash-cli \
  /usr/share/doc/tavoflash/copyright \
  /usr/share/doc/tavoflash/LICENSE \
  /usr/share/doc/tavoflash/changelog.gz \
  /usr/share/doc/tavoflash/README.md; do
  grep -qxF "$path" <<<"$list" || fail "the package lacks $path"
done
metainfo=$(grep -E '^/usr/share/metainfo/[^/]+\.metainfo\.xml$' <<<"$list") ||
  fail "the package lacks the AppStream metadata"

root=$work/root
rm -rf "$root"
dpkg -x "$deb" "$root"
grep -q "any later version" "$root/usr/share/doc/tavoflash/copyright" ||
  fail "the copyright file does not name the licence's later versions"

# The distribution's own validators.
hints=$(desktop-file-validate "$root/usr/share/applications/tavoflash.desktop") ||
  fail "desktop-file-validate:"$'\n'"$hints"
# A second main category puts the entry twice in the menu; the validator only hints at it.
! grep -q "main category" <<<"$hints" || fail "desktop entry:"$'\n'"$hints"
appstreamcli validate --no-net "$root$metainfo" || fail "appstreamcli validate"
grep -qF "<release version=\"$version\"" "$root$metainfo" ||
  fail "the metadata names no release $version"
grep -qF "<project_license>GPL-2.0-or-later</project_license>" "$root$metainfo" ||
  fail "the metadata names another licence"
lintian --fail-on error "$deb" || fail "lintian found errors"

# The manuals render without a warning.
for page in tavoflash tavoflash-cli; do
  warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" |
    LC_ALL=C.UTF-8 groff -ww -z -man -Tutf8 2>&1)
  [ -z "$warnings" ] || fail "$page.1: groff warns:"$'\n'"$warnings"
done

# The unpacked programs run.
cli=$root/usr/bin/tavoflash-cli
app=$root/usr/bin/tavoflash
out=$("$cli" --emulate --yes </dev/null) || fail "tavoflash-cli --emulate --yes ended with $?:"$'\n'"$out"
grep -qxF 'Firmware Verify ok!!' <<<"$out" || fail "tavoflash-cli --emulate --yes did not verify:"$'\n'"$out"
"$app" --help | grep -q '^Usage: tavoflash ' || fail "tavoflash --help"
# --version: the program's name first, and the project version.
for program in "$cli" "$app"; do
  name=$(basename "$program")
  out=$(QT_QPA_PLATFORM=offscreen timeout 60 "$program" --version 2>&1 </dev/null) ||
    fail "$name --version failed:"$'\n'"$out"
  head -n 1 <<<"$out" | grep -q "^$name" || fail "$name --version: first line:"$'\n'"$out"
  grep -qF "$version" <<<"$out" || fail "$name --version does not name $version:"$'\n'"$out"
done

# The completion offers exactly the program's profile names, and transports it accepts.
completion=$root/usr/share/bash-completion/completions/tavoflash-cli
complete_words() { # the words offered for COMP_WORDS given as arguments (last one is completed)
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
           _tavoflash_complete; printf "%s\n" "${COMPREPLY[@]}"' _ "$completion" "$@"
}
offered=$(complete_words tavoflash-cli --emulate = "" | sort)
known=$("$cli" --help | sed -n '/profiles:/,/^  --/p' | sed -e '/^  --/d' -e 's/.*profiles://' |
  tr ', ' '\n\n' | sed '/^$/d' | sort)
[ -n "$known" ] && [ "$offered" = "$known" ] ||
  fail "completion offers other profiles than the program knows:"$'\n'"$offered"$'\n---\n'"$known"
for transport in $(complete_words tavoflash-cli --transport = ""); do
  "$cli" --transport="$transport" --help >/dev/null || fail "completion offers transport $transport"
done
[ "$(complete_words tavoflash-cli --emulate = default,bad)" = "default,bad-verify" ] ||
  fail "completion of a profile list"

# A plain `cmake --install` tree runs as well.
cmake --install "$work/build" --prefix "$work/prefix" >/dev/null
out=$("$work/prefix/bin/tavoflash-cli" --emulate --yes </dev/null) || fail "installed tree: exit $?"
grep -qxF 'Firmware Verify ok!!' <<<"$out" || fail "installed tree did not verify"

echo "PASS package $(basename "$deb"): $(wc -l <<<"$list") entries"
