#!/usr/bin/env python3
"""Converts a flat NLD design (one module of built-in cells, as zelk_gen
writes it) to a BLIF model with the same network and logic functions.

    bench/nld_to_blif.py DESIGN.nld [-o OUT.blif]

Nets carry no name in NLD: a net takes the name of its input pin when it has
one, else of its driving terminal (INST.PIN, e.g. U12.nout).  Each output pin
is a buffer from its net.  Gates become .names with their exact cover (the
functions of share/zelk_cells.v); aoi/oai follow their digit groups, in1.. in
order: aoi--21 is nout = !((in1 & in2) | in3).  A register becomes a latch on
its m_clock net (.latch D Q re CLK init) whose output is INST.out, with an
inverter for nout; a connected clk_enb becomes a feedback multiplexer on D.
An input pin of a gate that no net reaches, or a net with no driver, reads 0.
Registers with p_reset, set/reset or scan pins connected, tristate drivers,
clock gates and user cells are refused: the model has no place for them.
Linear: 10^6 cells convert in well under a minute.
"""
import re
import sys

UNDRIVEN = "_undriven"


def die(msg):
    sys.stderr.write("nld_to_blif: " + msg + "\n")
    sys.exit(1)


def split_class(cls):
    """Returns (kind, digits) for a built-in cell class, e.g. ('and', '4')."""
    m = re.fullmatch(r"([a-z_]+)--(\d+)", cls)
    if m:
        return m.group(1), m.group(2)
    if cls in ("inv-", "ninv-", "high-", "low-", "reg-1", "regr-1", "regs-1", "reg--1"):
        return cls, ""
    return cls, None


class Cell:
    """What the converter needs of a cell class: input pins in cover order,
    the output pin, and the cover lines."""

    __slots__ = ("inputs", "output", "cover", "register", "init")

    def __init__(self, inputs, output, cover, register=False, init="0"):
        self.inputs = inputs
        self.output = output
        self.cover = cover
        self.register = register
        self.init = init


def make_cell(cls):
    kind, digits = split_class(cls)
    if digits is None:
        die("cell class %s is not supported" % cls)
    if kind == "inv-":
        return Cell(["in"], "nout", "0 1\n")
    if kind == "ninv-":
        return Cell(["in"], "out", "1 1\n")
    if kind == "high-":
        return Cell([], "out", "1\n")
    if kind == "low-":
        return Cell([], "nout", "")
    if kind in ("reg-1", "regr-1", "regs-1", "reg--1"):
        init = {"reg-1": "0", "regr-1": "0", "regs-1": "1", "reg--1": "3"}[kind]
        return Cell(["in", "clk_enb", "m_clock"], "out", "", register=True, init=init)
    if kind in ("and", "nand", "or", "nor"):
        n = int(digits)
        if n < 2 or n > 16:
            die("cell class %s is not supported" % cls)
        ins = ["in%d" % (k + 1) for k in range(n)]
        if kind == "and":
            return Cell(ins, "out", "1" * n + " 1\n")
        if kind == "nand":
            return Cell(ins, "nout", "1" * n + " 0\n")
        if kind == "nor":
            return Cell(ins, "nout", "0" * n + " 1\n")
        rows = ["-" * k + "1" + "-" * (n - k - 1) + " 1\n" for k in range(n)]
        return Cell(ins, "out", "".join(rows))
    if kind == "eor" and digits == "2":
        return Cell(["in1", "in2"], "out", "01 1\n10 1\n")
    if kind == "enor" and digits == "2":
        return Cell(["in1", "in2"], "nout", "00 1\n11 1\n")
    if kind in ("aoi", "oai") and len(digits) >= 2 and "0" not in digits:
        groups = [int(d) for d in digits]
        n = sum(groups)
        ins = ["in%d" % (k + 1) for k in range(n)]
        rows = []
        at = 0
        for g in groups:
            # aoi: each AND group is a cube of the off-set.  oai: the output
            # is 1 when some OR group is all 0, a cube of the on-set.
            bit, out = ("1", "0") if kind == "aoi" else ("0", "1")
            rows.append("-" * at + bit * g + "-" * (n - at - g) + " " + out + "\n")
            at += g
        return Cell(ins, "nout", "".join(rows))
    die("cell class %s is not supported" % cls)


def tokens_of(text):
    text = re.sub(r";[^\n]*", "", text)
    if re.search(r"\s\.|\.\s", text):
        text = re.sub(r"\s*\.\s*", ".", text)
    return text.replace("(", " ( ").replace(")", " ) ").split()


def convert(path, out):
    with open(path, encoding="latin-1") as f:
        tok = tokens_of(f.read())
    n = len(tok)
    module = None
    pins = []  # (name, type) in file order
    comps = {}  # instance -> class
    comp_order = []  # (class, [instances]) in file order
    nets = []  # (start, end) token slices of def-net forms
    i = 0
    depth = 0
    while i < n:
        t = tok[i]
        if t == "(":
            if depth == 1 and i + 1 < n:
                head = tok[i + 1]
                if head in ("def-pin", "def-comp", "def-net"):
                    end = tok.index(")", i)
                    body = tok[i + 2:end]
                    if "(" in body:
                        die("unexpected nesting in %s" % head)
                    if head == "def-pin":
                        typ = None
                        for k in range(1, len(body) - 1):
                            if body[k] == "type":
                                typ = body[k + 1]
                        pins.append((body[0], typ))
                    elif head == "def-comp":
                        cls = body[0]
                        insts = body[1:]
                        for inst in insts:
                            if inst in comps:
                                die("instance %s defined twice" % inst)
                            comps[inst] = cls
                        comp_order.append((cls, insts))
                    else:
                        nets.append((i + 2, end))
                    i = end + 1
                    continue
            if depth == 0:
                if i + 2 >= n or tok[i + 1] != "def-module":
                    die("a file of one def-module expected")
                if module is not None:
                    die("more than one module: a flat design of one module expected")
                module = tok[i + 2]
                depth = 1
                i += 3
                continue
            depth += 1
        elif t == ")":
            depth -= 1
        i += 1
    if module is None:
        die("no def-module in " + path)

    cells = {}
    for cls, _ in comp_order:
        if cls not in cells:
            cells[cls] = make_cell(cls)
    out_pin = {cls: c.output for cls, c in cells.items()}
    reg_classes = {cls for cls, c in cells.items() if c.register}

    pin_type = dict(pins)
    for name, typ in pins:
        if typ not in ("input", "output"):
            die("pin %s of type %s is not supported" % (name, typ))

    # Net names: every terminal maps to the name of its net.
    name_of = {}
    buffers = []  # (from net, to output pin)
    for start, end in nets:
        driver = None
        outs = []
        for k in range(start, end):
            term = tok[k]
            dot = term.find(".")
            if dot < 0:
                typ = pin_type.get(term)
                if typ is None:
                    die("net terminal %s is no pin of %s" % (term, module))
                if typ == "input":
                    if driver is not None:
                        die("net of %s has two drivers" % term)
                    driver = term
                else:
                    outs.append(term)
                continue
            pin = term[dot + 1:]
            if pin == "out" or pin == "nout":
                cls = comps.get(term[:dot])
                if cls is None:
                    die("instance %s undefined" % term[:dot])
                if out_pin[cls] == pin or cls in reg_classes:
                    if driver is not None:
                        die("net of %s has two drivers" % term)
                    driver = term
        name = driver if driver is not None else UNDRIVEN
        for k in range(start, end):
            name_of[tok[k]] = name
        for o in outs:
            buffers.append((name, o))

    w = out.write
    w(".model %s\n" % module)
    ins = [p for p, t in pins if t == "input"]
    outs = [p for p, t in pins if t == "output"]
    for label, names in ((".inputs", ins), (".outputs", outs)):
        for k in range(0, len(names), 16):
            w(label + " " + " ".join(names[k:k + 16]) + "\n")
    w(".names %s\n" % UNDRIVEN)
    get = name_of.get
    for cls, insts in comp_order:
        c = cells[cls]
        if c.register:
            for inst in insts:
                for p in ("p_reset", "set", "reset", "scan_in", "scan_enb", "scan_clock"):
                    if inst + "." + p in name_of:
                        die("register %s has %s connected" % (inst, p))
                d = get(inst + ".in", UNDRIVEN)
                q = inst + ".out"
                enb = get(inst + ".clk_enb")
                if enb is not None:
                    w(".names %s %s %s %s.d\n1-1 1\n-01 1\n" % (enb, q, d, inst))
                    d = inst + ".d"
                clk = get(inst + ".m_clock")
                if clk is not None:
                    w(".latch %s %s re %s %s\n" % (d, q, clk, c.init))
                else:
                    w(".latch %s %s %s\n" % (d, q, c.init))
                if inst + ".nout" in name_of:
                    w(".names %s %s.nout\n0 1\n" % (q, inst))
            continue
        pins_in = c.inputs
        tail = c.output
        cover = c.cover
        if len(pins_in) == 1:
            p0 = "." + pins_in[0]
            for inst in insts:
                w(".names %s %s.%s\n%s" % (get(inst + p0, UNDRIVEN), inst, tail, cover))
        else:
            suffixes = ["." + p for p in pins_in]
            for inst in insts:
                args = "".join([get(inst + s, UNDRIVEN) + " " for s in suffixes])
                w(".names %s%s.%s\n%s" % (args, inst, tail, cover))
    for net, pin in buffers:
        w(".names %s %s\n1 1\n" % (net, pin))
    w(".end\n")


def main(argv):
    args = argv[1:]
    out_path = None
    if "-o" in args:
        k = args.index("-o")
        if k + 1 >= len(args):
            die("-o needs a file")
        out_path = args[k + 1]
        del args[k:k + 2]
    if len(args) != 1 or args[0].startswith("-"):
        sys.stderr.write(__doc__)
        return 2
    if out_path is None:
        convert(args[0], sys.stdout)
    else:
        with open(out_path, "w", buffering=1 << 20) as out:
            convert(args[0], out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
