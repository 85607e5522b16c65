#!/bin/sh
# Unpacks a benchmark archive of MiB mebibytes (default 512) into tmpfs and
# compares it with copying the same archive there: 5 alternating runs each,
# medians, their ratio, and mimeunpack's peak RSS. mimeunpack runs once per
# vector level the processor offers (MIMEUNPACK_VECTOR_LEVEL); the best level,
# which is what runs by default, gives the headline figures. --any-layout and
# --offline run at that level in the same rounds, and their ratio is printed.
#   bench/run.sh [MiB] [SHAPE]
# (bench/modes.py times every mode beside a copy on all the shapes, with
# the peak RSS of each; bench/single_file.py times --single-file beside -a
# on a page with 2,000 pictures.)
# SHAPE is `office` (the default: a page and many pictures), `base64` (one
# base64 part filling the archive), `qp` (one quoted-printable page) or
# `tiny` (MiB is then a number of tiny parts);
# `bench/run.sh large` runs the large-part shapes, 512 MiB of base64 and a
# 256 MiB page, one after the other.
set -eu
if [ "${1:-}" = large ]; then
  "$0" 512 base64
  "$0" 256 qp
  exit
fi
size=${1:-512}
shape=${2:-office}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build="$root/build-bench"
cache="$here/cache"
case $shape in
  office) archive="$cache/archive-$size.mht" ;;
  base64 | qp | tiny) archive="$cache/archive-$shape-$size.mht" ;;
  *) echo "bench/run.sh: no shape $shape" >&2; exit 2 ;;
esac

command -v /usr/bin/time >/dev/null 2>&1 || {
  echo "bench/run.sh needs /usr/bin/time (Debian package 'time')" >&2
  exit 1
}

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DMIMEUNPACK_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target mimeunpack vector_levels >/dev/null
binary="$build/mimeunpack"
levels=$("$build/vector_levels" | tr '\n' ' ')
best=$("$build/vector_levels" | tail -n 1)

[ -f "$archive" ] ||
  python3 "$here/make_archive.py" "$size" "$cache" "$shape" >/dev/null

work=$(mktemp -d /dev/shm/mimeunpack-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
cp "$cache/base64.conf" "$work/"
cat "$archive" >/dev/null  # warm the page cache

now() { date +%s%N; }
# Wall time of each run, and its user + system CPU time (less sensitive to
# other load on the machine), both in nanoseconds.
cpu_ns() { awk '{ printf "%d", ($1 + $2) * 1e9 }' "$work/cpu.txt"; }
copy_times=""
copy_cpu=""
for level in $levels; do
  eval "times_$level=''; cpu_$level=''"
done
times_any_layout=""; cpu_any_layout=""; times_offline=""; cpu_offline=""
for run in 1 2 3 4 5; do
  t0=$(now)
  /usr/bin/time -f "%U %S" -o "$work/cpu.txt" cat "$archive" >"$work/copy"
  t1=$(now)
  rm -f "$work/copy"
  copy_times="$copy_times $((t1 - t0))"
  copy_cpu="$copy_cpu $(cpu_ns)"

  for level in $levels; do
    t0=$(now)
    (cd "$work" && MIMEUNPACK_VECTOR_LEVEL=$level /usr/bin/time -f "%U %S" \
      -o "$work/cpu.txt" "$binary" "$archive" >/dev/null)
    t1=$(now)
    rm -rf "$work/page.htm" "$work/page_files"
    eval "times_$level=\"\$times_$level $((t1 - t0))\""
    eval "cpu_$level=\"\$cpu_$level $(cpu_ns)\""
  done

  # --any-layout and --offline at the default level, in turns.
  modes="any_layout offline"
  [ $((run % 2)) -eq 0 ] && modes="offline any_layout"
  for mode in $modes; do
    flag=$(echo "$mode" | tr _ -)
    t0=$(now)
    (cd "$work" && /usr/bin/time -f "%U %S" -o "$work/cpu.txt" \
      "$binary" "--$flag" "$archive" >/dev/null)
    t1=$(now)
    rm -rf "$work/page.htm" "$work/page_files"
    eval "times_$mode=\"\$times_$mode $((t1 - t0))\""
    eval "cpu_$mode=\"\$cpu_$mode $(cpu_ns)\""
  done
done
eval "unpack_times=\$times_$best"
eval "unpack_cpu=\$cpu_$best"

(cd "$work" && /usr/bin/time -v "$binary" "$archive" >/dev/null 2>"$work/time.txt")
rss_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
rm -rf "$work/page.htm" "$work/page_files"

median() { printf '%s\n' $1 | sort -n | sed -n 3p; }
seconds() { awk -v ns="$1" 'BEGIN { printf "%.3f", ns / 1e9 }'; }
list() { for t in $1; do printf ' %s' "$(seconds "$t")"; done; }
copy=$(median "$copy_times")
unpack=$(median "$unpack_times")

echo "archive: $archive ($(stat -c %s "$archive") bytes)"
echo "vector levels: $levels(the default and the figures below: $best)"
echo "copy runs (s):      $(list "$copy_times")"
echo "mimeunpack runs (s):$(list "$unpack_times")"
echo "copy median:        $(seconds "$copy") s"
echo "mimeunpack median:  $(seconds "$unpack") s"
echo "ratio:              $(awk -v a="$unpack" -v b="$copy" 'BEGIN { printf "%.2f", a / b }')"
copy_c=$(median "$copy_cpu")
unpack_c=$(median "$unpack_cpu")
echo "CPU (user+sys) medians: copy $(seconds "$copy_c") s, mimeunpack $(seconds "$unpack_c") s, ratio $(awk -v a="$unpack_c" -v b="$copy_c" 'BEGIN { printf "%.2f", a / b }')"
echo "peak RSS:           $((rss_kib / 1024)) MiB ($rss_kib KiB)"
for level in $levels; do
  eval "t=\$times_$level; c=\$cpu_$level"
  echo "level $level: median $(seconds "$(median "$t")") s, CPU $(seconds "$(median "$c")") s, runs$(list "$t")"
done
for mode in any_layout offline; do
  eval "t=\$times_$mode; c=\$cpu_$mode"
  echo "--$(echo "$mode" | tr _ -): median $(seconds "$(median "$t")") s, CPU $(seconds "$(median "$c")") s, runs$(list "$t")"
done
echo "--offline / --any-layout: $(awk -v a="$(median "$times_offline")" -v b="$(median "$times_any_layout")" 'BEGIN { printf "%.2f", a / b }') (CPU $(awk -v a="$(median "$cpu_offline")" -v b="$(median "$cpu_any_layout")" 'BEGIN { printf "%.2f", a / b }'))"
