#!/usr/bin/env bash
# Runs clang-tidy (the repo's .clang-tidy) over every tracked source file in
# src/ that the build compiles; any finding fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."

tidy=${CLANG_TIDY:-clang-tidy}
dir=${TIDY_BUILD_DIR:-build-tidy}
# Configuring is enough: compile_commands.json needs no build. Tests are off
# so the check does not depend on GoogleTest.
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DMIMEUNPACK_BUILD_TESTS=OFF >/dev/null

# Only files in the compilation database: a source built under an option
# that is off here has no flags to be checked with.
mapfile -t files < <(python3 - "$dir/compile_commands.json" <<'PY'
import json, os, subprocess, sys
built = {os.path.realpath(os.path.join(e["directory"], e["file"]))
         for e in json.load(open(sys.argv[1]))}
tracked = subprocess.run(["git", "ls-files", "src/*.cc"], check=True,
                         capture_output=True, text=True).stdout.split()
for f in tracked:
    if os.path.realpath(f) in built:
        print(f)
PY
)
if [ ${#files[@]} -eq 0 ]; then
  echo "check_tidy: no sources in $dir/compile_commands.json"
  exit 1
fi
"$tidy" --version | head -2
status=0
printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 1 "$tidy" -p "$dir" --quiet || status=1
if [ $status -ne 0 ]; then
  echo "check_tidy: findings above"
else
  echo "check_tidy: ${#files[@]} files clean"
fi
exit $status
