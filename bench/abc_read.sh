#!/usr/bin/env bash
# Sets zelk's whole run on a flat design beside the time ABC, the usual BLIF
# reader of the field, takes merely to read the same network.  Needs
# berkeley-abc (apt-get install -y berkeley-abc; ABC=... names another
# binary) and python3.
#
#   bench/abc_read.sh [--runs R] [--build DIR] [--keep DIR] [--zelk BINARY]
#                     (--flat N | DESIGN_DIR [TOP])
#
#   --flat N   generate a flat design of N cells with the build's zelk_gen
#   DESIGN_DIR a flat design of one module (TOP.nld; TOP defaults to the one
#              .nld file there); a ro/ subdirectory is passed with -r
#   --runs     timed runs of each program (default 5), taken in turn
#   --build    Release build directory (default <repo>/build-measure)
#   --no-build use the binaries already in the build directory
#   --keep     work in DIR and keep it (design, BLIF file, zelk output)
#   --zelk     time this zelk binary instead of the Release build's
#
# The design is converted to BLIF once (bench/nld_to_blif.py, not timed).
# Then, alternately, `berkeley-abc -c "read x.blif"` and
# `zelk TOP DIR -w OUT` run under /usr/bin/time.  Prints per program the
# median, min and max of CPU seconds (user + system), the median wall time
# and peak memory, and the ratio of the median CPU times (zelk / ABC).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
build="$repo/build-measure"
runs=5
keep=""
zelk_bin=""
flat=""
design=""
top=""
build_it=1
usage() { sed -n '2,22p' "$0" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift ;;
    --build) build="$2"; shift ;;
    --no-build) build_it=0 ;;
    --keep) keep="$2"; shift ;;
    --zelk) zelk_bin="$2"; shift ;;
    --flat) flat="$2"; shift ;;
    -*) usage ;;
    *)
      if [ -z "$design" ]; then design="$1"
      elif [ -z "$top" ]; then top="$1"
      else usage; fi ;;
  esac
  shift
done
[ -n "$flat" ] || [ -n "$design" ] || usage
[ -n "$flat" ] && [ -n "$design" ] && usage

abc="${ABC:-berkeley-abc}"
if ! command -v "$abc" >/dev/null 2>&1; then
  echo "abc_read.sh: $abc not found; this comparison needs ABC" \
    "(apt-get install -y berkeley-abc, or ABC=/path/to/abc)" >&2
  exit 1
fi
command -v python3 >/dev/null 2>&1 || { echo "abc_read.sh: python3 not found" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "abc_read.sh: /usr/bin/time not found" >&2; exit 1; }

if [ "$build_it" = 1 ]; then
  echo "building Release in $build ..." >&2
  if ! log=$(cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DZELK_TESTS=OFF -DZELK_BENCH=ON 2>&1 && ninja -C "$build" zelk zelk_gen 2>&1); then
    echo "$log" | tail -20 >&2
    echo "abc_read.sh: the Release build in $build failed" >&2
    exit 1
  fi
fi
zelk="${zelk_bin:-$build/zelk}"
[ -x "$zelk" ] || { echo "abc_read.sh: $zelk not found" >&2; exit 1; }
[ -z "$flat" ] || [ -x "$build/zelk_gen" ] ||
  { echo "abc_read.sh: $build/zelk_gen not found" >&2; exit 1; }

if [ -n "$keep" ]; then
  work="$keep"
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/zelk_abc.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi

if [ -n "$flat" ]; then
  design="$work/flat_$flat"
  rm -rf "$design"
  facts=$("$build/zelk_gen" --flat "$flat" "$design")
  top=${facts#top=}; top=${top%% *}
fi
if [ -z "$top" ]; then
  shopt -s nullglob
  files=("$design"/*.nld)
  shopt -u nullglob
  [ ${#files[@]} = 1 ] || { echo "abc_read.sh: name the top module of $design" >&2; exit 2; }
  top=$(basename "${files[0]}" .nld)
fi
[ -f "$design/$top.nld" ] || { echo "abc_read.sh: $design/$top.nld not found" >&2; exit 2; }
ro=()
[ -d "$design/ro" ] && ro=(-r "$design/ro")

blif="$work/$top.blif"
echo "converting $design/$top.nld to BLIF ..." >&2
python3 "$here/nld_to_blif.py" "$design/$top.nld" -o "$blif"
"$abc" -c "read $blif; print_stats" 2>&1 | grep -i 'i/o' | sed 's/\x1b\[[0-9;]*m//g' >&2 || true

# One timed run; appends "cpu wall peak_KB" to file $1.
timed() {
  local into=$1; shift
  /usr/bin/time -f "%U %S %e %M" -o "$work/time" "$@" >/dev/null 2>&1 ||
    { echo "abc_read.sh: failed: $*" >&2; exit 1; }
  awk '{ printf "%.2f %.2f %d\n", $1 + $2, $3, $4 }' "$work/time" >>"$into"
}

load0=$(cut -d' ' -f1-3 /proc/loadavg)
: >"$work/abc.runs"
: >"$work/zelk.runs"
for ((r = 1; r <= runs; ++r)); do
  timed "$work/abc.runs" "$abc" -c "read $blif"
  out="$work/out"
  rm -rf "$out"
  mkdir -p "$out"
  timed "$work/zelk.runs" "$zelk" "$top" "$design" "${ro[@]}" -w "$out"
  rm -rf "$out"
done
load1=$(cut -d' ' -f1-3 /proc/loadavg)

# "median_cpu min_cpu max_cpu median_wall median_peak_MB" of a runs file.
summary() {
  local col
  for col in 1 2 3; do sort -g -k"$col","$col" "$1" | awk -v c="$col" '{ v[NR] = $c }
    END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          if (c == 1) printf "%.2f %.2f %.2f ", m, v[1], v[NR]
          else if (c == 2) printf "%.2f ", m
          else printf "%.0f\n", m / 1024 }'; done
}
read -r a_cpu a_min a_max a_wall a_peak < <(summary "$work/abc.runs")
read -r z_cpu z_min z_max z_wall z_peak < <(summary "$work/zelk.runs")

cells=$(grep -o '(def-comp [^)]*' "$design/$top.nld" | awk '{ n += NF - 2 } END { print n }')
echo "design $design/$top.nld: $cells cells; $runs runs each, taken in turn"
printf '%-28s %9s %15s %9s %8s\n' program "cpu_s" "cpu_min..max" "wall_s" "peak_MB"
printf '%-28s %9s %15s %9s %8s\n' "abc read (BLIF)" "$a_cpu" "$a_min..$a_max" "$a_wall" "$a_peak"
printf '%-28s %9s %15s %9s %8s\n' "zelk whole run" "$z_cpu" "$z_min..$z_max" "$z_wall" "$z_peak"
awk -v z="$z_cpu" -v a="$a_cpu" 'BEGIN { if (a > 0) printf "ratio of median CPU, zelk / abc read: %.2f\n", z / a; else print "ratio of median CPU: abc read took no measurable time" }'
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')," \
  "load average $load0 before, $load1 after"
