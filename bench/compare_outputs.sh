#!/usr/bin/env bash
# Runs two zelk binaries on every design of a designs folder, with no
# option, with -a and with -f, and checks that both write the same files and
# the same standard error and exit with the same status.  Prints one line per
# difference and a summary; exits 1 when anything differs.
#
#   bench/compare_outputs.sh OLD_ZELK NEW_ZELK [DESIGNS_DIR] [OPTIONS...]
#
# DESIGNS_DIR holds <suite>/<design>/<design>.nld (default: ../shared/designs
# next to the repository, or $ZELK_DESIGNS).  OPTIONS replace the default
# option sets ("" -a -f); give e.g. "-a" to run only that one.  Also times
# each run (wall seconds, old/new) into the log printed at the end.
set -uo pipefail

[ $# -ge 2 ] || { sed -n '2,12p' "$0" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
designs=${3:-${ZELK_DESIGNS:-$here/../../shared/designs}}
designs=$(realpath "$designs")
shift $(( $# >= 3 ? 3 : 2 ))
if [ $# -gt 0 ]; then opts=("$@"); else opts=("" "-a" "-f"); fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zelk_compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Runs binary $1 on design folder $2 (top $3) with option $4 in a fresh
# folder $5: the write folder is always the relative "out", so messages
# that name written files are the same for both binaries.
run() {
  local bin=$1 dir=$2 top=$3 opt=$4 at=$5
  rm -rf "$at"
  mkdir -p "$at/out"
  local t0 t1
  t0=$(date +%s.%N)
  # shellcheck disable=SC2086
  (cd "$at" && "$bin" "$top" "$dir" $opt -w out >/dev/null 2>stderr; echo $? >status)
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }'
}

fail=0
runs=0
log=""
for nld in "$designs"/*/*/*.nld; do
  dir=$(dirname "$nld")
  top=$(basename "$nld" .nld)
  [ "$(basename "$dir")" = "$top" ] || continue
  for opt in "${opts[@]}"; do
    runs=$((runs + 1))
    ta=$(run "$old" "$dir" "$top" "$opt" "$work/a")
    tb=$(run "$new" "$dir" "$top" "$opt" "$work/b")
    log+=$(printf '%-10s %-3s %6s %6s' "$top" "${opt:--}" "$ta" "$tb")$'\n'
    if ! cmp -s "$work/a/status" "$work/b/status"; then
      echo "DIFFER $top ${opt:--}: exit status $(cat "$work/a/status") vs $(cat "$work/b/status")"
      fail=1
    elif ! cmp -s "$work/a/stderr" "$work/b/stderr"; then
      echo "DIFFER $top ${opt:--}: standard error"
      fail=1
    elif ! diff -r -q "$work/a/out" "$work/b/out" >/dev/null; then
      echo "DIFFER $top ${opt:--}: written files"
      fail=1
    fi
  done
done
printf 'design     opt  old_s  new_s\n%s' "$log"
if [ "$fail" = 0 ]; then
  echo "all $runs runs identical"
else
  echo "some of $runs runs differ"
fi
exit "$fail"
