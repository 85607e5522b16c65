#!/usr/bin/env bash
# Builds the libFuzzer targets (clang++) and runs each for SECONDS seconds,
# one after another. Seeds come from fuzz/corpus/<target>/ (never changed);
# what a run learns goes to fuzz/corpus-<target>/ (ignored by git), and a
# finding is left in build-fuzz/findings/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
here=$PWD  # absolute paths: a crash may happen in another directory
seconds=${1:?usage: fuzz/run.sh SECONDS [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(archive quoted_printable base64 base64conf any_layout single_file)

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIMEUNPACK_FUZZ=ON \
  -DMIMEUNPACK_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 >/dev/null
mkdir -p build-fuzz/findings

for target in "${targets[@]}"; do
  mkdir -p "fuzz/corpus-$target"
  echo "== fuzz_$target for ${seconds}s"
  build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$here/build-fuzz/findings/$target-" \
    "$here/fuzz/corpus-$target" "$here/fuzz/corpus/$target" 2>&1 |
    grep -E '^(#[0-9]+.*DONE|stat::|==[0-9]+==|SUMMARY|fuzz property|artifact_prefix)' || true
  # libFuzzer's status is hidden by the pipe; a finding leaves a file.
  if compgen -G "build-fuzz/findings/$target-*" >/dev/null; then
    echo "fuzz_$target: finding(s) in build-fuzz/findings/" >&2
    exit 1
  fi
done
