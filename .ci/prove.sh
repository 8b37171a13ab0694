#!/usr/bin/env bash
# Proves zelk's results with Yosys and ABC: the bundled example, Verilog
# designs taken through Yosys into NLD, and (when ../shared/designs is
# present) every benchmark design, hierarchical (-a) and flat (-a -f); and
# round trips NLD -> Verilog -> Yosys -> NLD proved equal to the start.
# Run from anywhere; prints one line per proof and the total time.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "${1:-}" = "--job" ]; then
  shift
  export ZELK=$root/build-prove/zelk ZELK_VERILOG=$root/build-prove/zelk-verilog
  work=$(mktemp -d "${TMPDIR:-/tmp}/zelk-ci.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  kind=$1 label=$2 top=$3
  shift 3
  # NLD -> Verilog -> Yosys -> NLD: the result read by zelk and proved equal
  # to the start.  Prints the verdict, or the step that failed.
  round_trip() {
    local top=$1
    shift
    "$ZELK_VERILOG" out "$top" "$@" -o "$work/a.v" 2>"$work/err" &&
      yosys -q -p "read_verilog -lib share/zelk_cells.v; read_verilog $work/a.v
        hierarchy -check -top \\$top; write_verilog $work/b.v
        write_verilog -blackboxes $work/c.v" >"$work/err" 2>&1 &&
      mkdir "$work/rt" "$work/z" &&
      "$ZELK_VERILOG" in "$work/b.v" "$work/c.v" -w "$work/rt" >/dev/null 2>"$work/err" &&
      "$ZELK" "$top" "$work/rt" -w "$work/z" >"$work/err" 2>&1 ||
      { grep -v '^\s*$' "$work/err" | tail -1; return 1; }
    scripts/prove "$top" "$@" -w "$work/rt"
  }
  case $kind in
    zelk)  # <flags...> -- <dirs...>: run zelk, prove its output
      flags=()
      while [ "$1" != "--" ]; do flags+=("$1"); shift; done
      shift
      mkdir "$work/out"
      out=$(scripts/prove --run "${flags[@]}" "$top" "$@" -w "$work/out")
      ;;
    synth)  # <file.v>: Yosys -> NLD, then zelk -a and zelk -a -f, proved
      scripts/synth-to-nld "$top" "$work/nld" "$1" >/dev/null 2>"$work/err" ||
        { echo "FAIL $label: $(tail -1 "$work/err")"; exit 1; }
      mkdir "$work/h" "$work/f"
      out=$(scripts/prove --run -a "$top" "$work/nld" -w "$work/h") &&
        out="$out; $(scripts/prove --run -a -f "$top" "$work/nld" -w "$work/f")"
      ;;
    gen)  # <flags...> -- <generator arguments...>: a generated design, zelk, proof
      flags=()
      while [ "$1" != "--" ]; do flags+=("$1"); shift; done
      shift
      "$root/build-prove/zelk_gen" "$@" "$work/d" >/dev/null 2>"$work/err" ||
        { echo "FAIL $label: $(tail -1 "$work/err")"; exit 1; }
      ro=()
      [ -d "$work/d/ro" ] && ro=(-r "$work/d/ro")
      mkdir "$work/out"
      out=$(scripts/prove --run "${flags[@]}" "$top" "$work/d" "${ro[@]}" -w "$work/out")
      ;;
    round)  # <dirs...> [-r <dirs...>]: NLD -> Verilog -> Yosys -> NLD
      out=$(round_trip "$top" "$@") || { echo "FAIL $label: $out"; exit 1; }
      ;;
    genround)  # <generator arguments...>: a generated design's round trip
      "$root/build-prove/zelk_gen" "$@" "$work/d" >/dev/null 2>"$work/err" ||
        { echo "FAIL $label: $(tail -1 "$work/err")"; exit 1; }
      ro=()
      [ -d "$work/d/ro" ] && ro=(-r "$work/d/ro")
      out=$(round_trip "$top" "$work/d" "${ro[@]}") || { echo "FAIL $label: $out"; exit 1; }
      ;;
  esac
  status=$?
  if [ $status = 0 ]; then echo "ok   $label: $out"; else echo "FAIL $label: $out"; fi
  exit $status
fi

start=$(date +%s)
have_tools() { command -v yosys >/dev/null && { command -v berkeley-abc || command -v yosys-abc; } >/dev/null; }
if ! have_tools; then
  apt-get install -y yosys berkeley-abc >/dev/null 2>&1 ||
    { apt-get update >/dev/null 2>&1 && apt-get install -y yosys berkeley-abc >/dev/null 2>&1; }
fi
have_tools || { echo "prove: yosys and berkeley-abc could not be installed"; exit 1; }

cmake -S . -B build-prove -G Ninja -DZELK_TESTS=OFF >/dev/null &&
  cmake --build build-prove -j2 --target zelk zelk-verilog zelk_gen >/dev/null ||
  { echo "prove: build failed"; exit 1; }

jobs=$(mktemp)
trap 'rm -f "$jobs"' EXIT
{
  ex="examples/design -r examples/lib"
  echo "zelk example top -- $ex"
  echo "zelk example-a top -a -- $ex"
  echo "zelk example-f top -f -- $ex"
  echo "round example-roundtrip top $ex"
  # Generated designs with every kind of pin and cell: copies of copies,
  # registers, tristate buses (some always driven twice, or never), fixed
  # modules, library cells, nets read twice by one gate, undriven nets,
  # exclusive-or cells on a net of high fan-out.
  while read -r name args; do
    for f in "-a" "-f" "-a -f"; do
      echo "gen $name${f// /} top $f -- $args"
    done
  done <<'GEN'
gen-hier --hier 3 --leaf-cells 30 --regs 100 --tristate 2 --fixed 1 --pcd 2 --glue 100 --seed 1
gen-hier2 --hier2 3 4 --leaf-cells 25 --regs 150 --tristate 3 --fixed 2 --pcd 1 --twice 80 --seed 2
gen-fanout --flat 120 --fanout 40 --fanout-exor 5 --regs 50 --seed 3
gen-undriven --hier 4 --leaf-cells 15 --regs 200 --tristate 1 --fixed 1 --undriven 30 --seed 4
gen-flat --flat 300 --regs 80 --tristate 2 --twice 50 --undriven 20 --seed 6
GEN
  # Small designs of corner cases: pins of every type across boundaries
  # (and joined inside copies), every register kind, supplies, buses,
  # library cells, read-only modules; zelk's results and round trips.
  for seed in 28 48 110 298 335 1001 1194 1470; do
    for f in "-a" "-a -f"; do
      echo "gen corner$seed${f// /} top $f -- --corner $seed"
    done
    echo "genround corner$seed-roundtrip top --corner $seed"
  done
  for v in examples/verilog/*.v; do
    n=$(basename "$v" .v)
    echo "synth verilog-$n $n $v"
  done
  if [ -d ../shared/designs ]; then
    for d in ../shared/designs/*/*/; do
      n=$(basename "$d")
      [ -f "$d/$n.nld" ] || continue
      echo "zelk $n-a $n -a -- $d"
      echo "zelk $n-a-f $n -a -f -- $d"
      echo "round $n-roundtrip $n $d"
    done
  fi
} >"$jobs"

log=$(mktemp)
# The biggest designs first, so that two workers finish together.
sort -t' ' -k2,2 "$jobs" | awk '{print ($3=="hyp"?0:1) "\t" $0}' | sort -s -k1,1 | cut -f2- |
  xargs -P 2 -L 1 "$0" --job | tee "$log"
total=$(grep -c . "$log")
failed=$(grep -c '^FAIL' "$log")
rm -f "$log"
echo "prove: $((total - failed)) of $total proved in $(( $(date +%s) - start )) s"
[ "$failed" = 0 ]
