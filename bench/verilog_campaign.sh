#!/usr/bin/env bash
# Random behavioural designs (bench/random_verilog.py) taken into NLD by two
# Yosys flows, reduced by zelk with every option (none, -a, -f, -a -f) and
# each result proved by scripts/prove.
#
#   bench/verilog_campaign.sh FROM TO
#
# Flow 1 is scripts/synth-to-nld; flow 2 is Yosys's own `synth` (with
# `tribuf` before it, so that buses stay buses) written with -noexpr.  One
# line per failure, then "done FROM..TO".  Uses $ZELK and $ZELK_VERILOG as
# scripts/prove does (default: the build directory's).  Needs python3,
# yosys and berkeley-abc.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
export ZELK=${ZELK:-$here/build/zelk} ZELK_VERILOG=${ZELK_VERILOG:-$here/build/zelk-verilog}
[ $# -eq 2 ] || { sed -n '6p' "$0" >&2; exit 2; }
for s in $(seq "$1" "$2"); do
  w=$(mktemp -d "${TMPDIR:-/tmp}/zelk-vcamp.XXXXXX")
  python3 "$here/bench/random_verilog.py" "$s" >"$w/d.v"
  "$here/scripts/synth-to-nld" top "$w/n1" "$w/d.v" >/dev/null 2>"$w/err1" ||
    echo "seed $s flow 1: $(tail -1 "$w/err1")"
  if yosys -q -p "read_verilog $w/d.v; hierarchy -top top; proc; tribuf; synth -top top
      write_verilog -noexpr -noattr $w/s2.v" >/dev/null 2>&1; then
    mkdir "$w/n2"
    "$ZELK_VERILOG" in "$w/s2.v" -w "$w/n2" >/dev/null 2>"$w/err2" ||
      echo "seed $s flow 2: $(tail -1 "$w/err2")"
  else
    echo "seed $s flow 2: yosys failed"
  fi
  for n in n1 n2; do
    [ -f "$w/$n/top.nld" ] || continue
    for f in "" "-a" "-f" "-a -f"; do
      mkdir "$w/o"
      # shellcheck disable=SC2086
      out=$("$here/scripts/prove" --run $f top "$w/$n" -w "$w/o" 2>&1)
      case $out in PROVED*) ;; *) echo "seed $s flow ${n#n} [$f]: $out" ;; esac
      rm -rf "$w/o"
    done
  done
  rm -rf "$w"
done
echo "done $1..$2"
