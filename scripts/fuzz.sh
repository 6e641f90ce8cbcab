#!/usr/bin/env bash
# Builds the libFuzzer targets (the `fuzz` preset, clang) and runs each one for a fixed
# number of inputs, starting from seeds generated from the virtual drive's profiles (the
# recording reader's: the recordings kept in tests/recordings, whole and their first lines).
#   bash scripts/fuzz.sh                 # 20000 runs per target (CI runs 5000)
#   bash scripts/fuzz.sh -runs=1000000   # a long run; any libFuzzer option works
# Findings are written to build/fuzz/findings/ and make the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."

options=("$@")
[ ${#options[@]} -eq 0 ] && options=(-runs=20000)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

out=build/fuzz
rm -rf "$out/seeds"
"$out/tests/fuzz/make_seeds" "$out/seeds"
mkdir -p "$out/seeds/recording" "$out/findings"
for recording in tests/recordings/*.jsonl; do
  name=$(basename "$recording" .jsonl)
  cp "$recording" "$out/seeds/recording/$name"
  head -n 40 "$recording" >"$out/seeds/recording/$name-start"
done
for target in drive_replies container recording; do
  mkdir -p "$out/corpus/$target"
  echo "== fuzz_$target ${options[*]}"
  "$out/tests/fuzz/fuzz_$target" -artifact_prefix="$out/findings/$target-" \
    -print_final_stats=1 "${options[@]}" "$out/corpus/$target" "$out/seeds/$target"
done
