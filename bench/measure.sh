#!/usr/bin/env bash
# Builds zelk in Release, generates designs into a temporary directory and
# measures each run of the zelk binary: time per stage (from the moments its
# progress lines appear) and peak memory (/usr/bin/time -v).  Prints a table.
#
#   bench/measure.sh [--quick] [--only NAME[,NAME...]] [--timeout SECONDS]
#                    [--build DIR] [--keep DIR] [--zelk BINARY]
#
#   --quick     leave out the designs of 10^6 and 10^7 cells and hyp
#   --only      run only the named designs (see DESIGNS below)
#   --timeout   end one zelk run after this many CPU seconds (default 1800)
#   --build     Release build directory (default <repo>/build-measure)
#   --keep      generate into DIR and keep it (default: a temp dir, removed;
#               in /dev/shm when it has 6 GB free, else in $TMPDIR or /tmp)
#   --zelk      measure this zelk binary instead of the Release build's
#               (designs still come from the build's zelk_gen)
#
# Stages: read = reading and loading; flat = flattening (with the counts
# before it); reduce = inverter reduction; count = the final count;
# rebuild = output polarity and hierarchy; write = writing or copying.  A
# design without inverters goes from read straight to write (the copy).
# Stage columns give wall/cpu seconds: on a loaded machine only the CPU
# time of the zelk process means much.  "B/cell" is the peak resident
# memory of the whole process per cell.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(dirname "$here")
build="$repo/build-measure"
quick=0
only=""
limit=1800
keep=""
zelk_bin=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --only) only="$2"; shift ;;
    --timeout) limit="$2"; shift ;;
    --build) build="$2"; shift ;;
    --keep) keep="$2"; shift ;;
    --zelk) zelk_bin="$2"; shift ;;
    *) sed -n '2,24p' "$0" >&2; exit 2 ;;
  esac
  shift
done

# name | generator arguments (or @suite/design: a shipped circuit, run when
# present) | zelk options.  flat: random gates, an inverter on about a
# fifth of the gate inputs, one giant component; hier: module copies with
# registers, buses, constants and fixed modules, run with -a; fanout: one
# inverted input read by that many nand gates (also with -a, where most of
# them flip one by one).
DESIGNS=(
  "flat_1e4|--flat 10000|"
  "flat_1e5|--flat 100000|"
  "flat_1e6|--flat 1000000|"
  "hier_1e4|--hier2 100 10 --tristate 20 --fixed 10|-a"
  "hier_1e5|--hier2 100 100 --tristate 50 --fixed 20|-a"
  "hier_1e6|--hier2 1000 100 --tristate 200 --fixed 50|-a"
  "fanout_1e4|--flat 100 --fanout 10000|"
  "fanout_1e5|--flat 100 --fanout 100000|"
  "fanout_1e6|--flat 100 --fanout 1000000|"
  "fanout_1e5_a|--flat 100 --fanout 100000|-a"
  "fanout_1e6_a|--flat 100 --fanout 1000000|-a"
  "flat_1e5_no_inv|--flat 100000 --no-inv|"
  "flat_1e7|--flat 10000000|"
)
shipped="${ZELK_DESIGNS:-$repo/../shared/designs}"
DESIGNS+=("shipped_hyp|@epfl/hyp|" "shipped_hyp_a|@epfl/hyp|-a" "shipped_hyp_f|@epfl/hyp|-f"
  "shipped_s35932_a|@iscas89/s35932|-a")

echo "building Release in $build ..." >&2
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZELK_TESTS=OFF \
  -DZELK_BENCH=ON >/dev/null
ninja -C "$build" zelk zelk_gen >/dev/null
zelk="${zelk_bin:-$build/zelk}"

# The designs and the runs' files go to a memory file system when there is
# one with room: the figures are then zelk's own.  On a disk, writing the
# 10^5 files of hier 10^6 takes from 6 to 60 s, depending on what the file
# system deleted in the last minutes (docs/performance.md, "Files on a
# disk").  TMPDIR, or --keep, chooses the place instead.
scratch_root() {
  if [ -n "${TMPDIR:-}" ]; then echo "$TMPDIR"; return; fi
  local room
  room=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
  if [ -d /dev/shm ] && [ -w /dev/shm ] && [ "${room:-0}" -ge $((6 * 1024 * 1024)) ]; then
    echo /dev/shm
  else
    echo /tmp
  fi
}
if [ -n "$keep" ]; then
  work="$keep"
  mkdir -p "$work"
else
  work=$(mktemp -d "$(scratch_root)/zelk_measure.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
echo "designs and outputs in $work ($(df -PT "$work" | awk 'NR == 2 { print $2 }'))" >&2

# Prefixes every line of standard input with the time it arrived and the
# CPU time (user + system) used so far by the process whose id is in file
# $1.  Lines that start with a tab (files read or written) get no CPU time.
stamp() {
  perl -MTime::HiRes=time -e '
    my ($pidfile, $tck) = @ARGV; @ARGV = (); $| = 1;
    my ($pid, $cpu) = (0, 0);
    while (my $line = <STDIN>) {
      my $t = time;
      if ($line !~ /^\t/) {
        if (!$pid && open(my $p, "<", $pidfile)) { $pid = <$p> + 0; close $p }
        if ($pid && open(my $s, "<", "/proc/$pid/stat")) {
          my @f = split / /, (split /\) /, <$s>)[1];
          $cpu = ($f[11] + $f[12]) / $tck;
          close $s;
        }
      }
      printf "%.6f\t%.2f\t%s", $t, $cpu, $line;
    }' "$1" "$(getconf CLK_TCK)"
}

now() { perl -MTime::HiRes=time -e 'printf "%.6f\n", time'; }

# Stage times from a stamped log: for each of read flat reduce count rebuild
# write, "wall/cpu" in seconds ("-" for a stage that did not happen), then
# the summary "a--->b".  $1 start time, $2 end time, $3 total CPU, $4 log.
stages() {
  awk -F'\t' -v t0="$1" -v t1="$2" -v c1="$3" '
    function mark(name, t, c) {
      if (cur != "") { wall[cur] += t - since; cpu[cur] += c - csince }
      cur = name; since = t; csince = c
    }
    BEGIN { cur = ""; since = t0; csince = 0 }
    { text = $3 }
    text == "Start to read NLD/PCD files" { mark("read", $1, $2); next }
    text ~ /^There (are [0-9-]+ inverters|is 1 inverter)$/ {
      if (counted++) mark("rebuild", $1, $2)
      else mark(text == "There are 0 inverters" ? "" : "flat", $1, $2)
      next }
    text == "Start inverter reduction" { mark("reduce", $1, $2); next }
    text == "Done" && cur == "reduce" { mark("count", $1, $2); next }
    text == "Done" && cur == "read" { mark("", $1, $2); next }
    text ~ /^Start to write/ { mark("write", $1, $2); next }
    text == "Could not reduce the number of inverters" { mark("", $1, $2); next }
    text == "Done" && cur == "write" { mark("", $1, $2); next }
    /--->/ { s = $0; sub(/^[^\t]*\t[^\t]*\t/, "", s); gsub(/[ \t]/, "", s); summary = s }
    END {
      mark("", t1, c1)
      n = split("read flat reduce count rebuild write", names, " ")
      for (i = 1; i <= n; ++i)
        printf "%s ", (names[i] in wall) ? sprintf("%.2f/%.2f", wall[names[i]], cpu[names[i]]) : "-"
      printf "%s\n", (summary == "" ? "?" : summary)
    }' "$4"
}

echo "stage columns: wall/cpu seconds of the zelk process" >&2
printf '%-17s %9s %7s %11s %11s %13s %9s %9s %9s %8s %8s %8s %7s %s\n' \
  design cells file_MB read flat reduce count rebuild write wall cpu peak_MB B/cell \
  "inverters"
for entry in "${DESIGNS[@]}"; do
  name=${entry%%|*}
  rest=${entry#*|}
  args=${rest%%|*}
  zopts=${rest#*|}
  if [ -n "$only" ]; then
    case ",$only," in *",$name,"*) ;; *) continue ;; esac
  elif [ "$quick" = 1 ]; then
    case "$name" in *1e6*|*1e7*|shipped_*) continue ;; esac
  fi
  dir="$work/$name"
  if [ "${args#@}" = "$args" ]; then
    # shellcheck disable=SC2086
    facts=$("$build/zelk_gen" $args "$dir")
    top=${facts#top=}; top=${top%% *}
    cells=$(sed -n 's/.* cells=\([0-9]*\).*/\1/p' <<<"$facts")
    ro=(-r "$dir/ro")
  else
    dir="$shipped/${args#@}"
    [ -d "$dir" ] || continue
    top=$(basename "$dir")
    cells=$(grep -o '(def-comp [^)]*' "$dir/$top.nld" | awk '{ n += NF - 2 } END { print n }')
    ro=()
  fi
  mb=$(du -smL "$dir" | cut -f1)
  out="$work/$name.out"
  rm -rf "$out"
  mkdir -p "$out"
  t0=$(now)
  # zelk writes only to standard error: that goes through the stamping.
  # The limit is on CPU time, so that a loaded machine does not end a run.
  pidfile="$work/$name.pid"
  rm -f "$pidfile"
  {
    set +e  # a run that fails or hits the limit is reported, not fatal
    /usr/bin/time -v -o "$work/$name.time" bash -c \
      'ulimit -t "$1"; echo $$ >"$2"; shift 2; exec "$@"' limit "$limit" "$pidfile" \
      "$zelk" "$top" "$dir" "${ro[@]}" $zopts -w "$out" 2>&1 >/dev/null
    echo $? >"$work/$name.status"
    now >"$work/$name.end"
  } 2>&1 | stamp "$pidfile" >"$work/$name.log"
  status=$(cat "$work/$name.status")
  t1=$(cat "$work/$name.end")
  cpu=$(awk -F': ' '/User time/ { u = $2 } /System time/ { s = $2 } END { printf "%.2f", u + s }' \
    "$work/$name.time")
  read -r read flat reduce count rebuild write summary \
    < <(stages "$t0" "$t1" "$cpu" "$work/$name.log")
  total=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.2f", b - a }')
  peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$work/$name.time")
  per=$(awk -F': ' -v c="$cells" '/Maximum resident set size/ { printf "%.0f", $2 * 1024 / c }' \
    "$work/$name.time")
  [ "$status" = 0 ] || summary="$summary (status $status)"
  printf '%-17s %9s %7s %11s %11s %13s %9s %9s %9s %8s %8s %8s %7s %s\n' \
    "$name" "$cells" "$mb" "$read" "$flat" "$reduce" "$count" "$rebuild" "$write" "$total" \
    "$cpu" "$peak" "$per" "$summary"
done
# The outputs go only now: on an ext4 file system without a journal, the
# inodes of files deleted in the last minute are passed over one by one
# when a file is made, and a design of 10^5 files written after the
# outputs of another were deleted took minutes instead of seconds.
for entry in "${DESIGNS[@]}"; do rm -rf "$work/${entry%%|*}.out"; done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')," \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)" >&2
