#!/usr/bin/env python3
"""Writes a random behavioural Verilog design for the open-flow campaign.

    bench/random_verilog.py SEED > design.v

The top module `top` holds two to four copies of one or two leaf modules
that share a tristate bus (each copy drives it while its `oe` is high) and
feed each other.  A leaf has one to three registers of the forms Yosys maps
onto its gate cells (asynchronous reset to 0, to 1 with an enable,
synchronous reset, enable, the falling edge) and random logic of
and/or/exclusive-or, their negations, additions and multiplexers over
buses of two to four bits.  The same seed gives the same text.
"""
import random
import sys


def main():
    seed = int(sys.argv[1])
    r = random.Random(seed)
    width = r.choice([2, 3, 4])
    hi = width - 1

    def expr(names, depth):
        if depth == 0 or r.random() < 0.25:
            n = r.choice(names)
            return "~" + n if r.random() < 0.3 else n
        op = r.choice(["&", "|", "^", "&", "|", "?", "~&", "~|", "+", "~^"])
        a, b = expr(names, depth - 1), expr(names, depth - 1)
        if op == "?":
            return f"({r.choice(names)}[0] ? {a} : {b})"
        if op in ("~&", "~|"):
            return f"~({a} {op[1]} {b})"
        return f"({a} {op} {b})"

    out = []
    leaves = r.choice([1, 2])
    for k in range(leaves):
        out.append(f"module leaf{k}(input clk, input rst, input en, input oe, input [{hi}:0] a, b, c,"
                   f" output [{hi}:0] y, output [{hi}:0] z, inout [{hi}:0] bus);")
        regs = [f"q{i}" for i in range(r.randint(1, 3))]
        for q in regs:
            out.append(f"  reg [{hi}:0] {q};")
        names = ["a", "b", "c"] + regs
        for q in regs:
            kind = r.choice(["async0", "async1", "sync", "en", "plain", "neg"])
            e = expr(names, 3)
            out.append({
                "async0": f"  always @(posedge clk or posedge rst) if (rst) {q} <= 0; else {q} <= {e};",
                "async1": f"  always @(posedge clk or negedge rst) if (!rst) {q} <= {{{width}{{1'b1}}}};"
                          f" else if (en) {q} <= {e};",
                "sync": f"  always @(posedge clk) if (rst) {q} <= 0; else {q} <= {e};",
                "en": f"  always @(posedge clk) if (en) {q} <= {e};",
                "neg": f"  always @(negedge clk) {q} <= {e};",
                "plain": f"  always @(posedge clk) {q} <= {e};",
            }[kind])
        out.append(f"  assign y = {expr(names, 4)};")
        out.append(f"  wire [{hi}:0] t = {expr(names, 3)};")
        out.append(f"  assign bus = oe ? t : {{{width}{{1'bz}}}};")
        out.append(f"  assign z = {expr(names + ['bus'], 3)};")
        out.append("endmodule")
    copies = r.randint(2, 4)
    out.append(f"module top(input clk, input rst, input en, input [{copies - 1}:0] oe, input [{hi}:0] a, b, c,"
               f" output [{hi}:0] o1, o2, output [{hi}:0] busout);")
    out.append(f"  wire [{hi}:0] bus;")
    prev = "a"
    ys = []
    for i in range(copies):
        k = r.randrange(leaves)
        out.append(f"  wire [{hi}:0] y{i}, z{i};")
        src = r.choice(["a", "b", "c", prev])
        out.append(f"  leaf{k} u{i}(.clk(clk), .rst(rst), .en(en), .oe(oe[{i}]), .a({src}), .b(~b), .c(c),"
                   f" .y(y{i}), .z(z{i}), .bus(bus));")
        prev = f"y{i}"
        ys.append(prev)
    out.append(f"  assign o1 = {' ^ '.join(ys)};")
    out.append(f"  assign o2 = z0 & ~{prev};")
    out.append("  assign busout = bus;")
    out.append("endmodule")
    print("\n".join(out))


if __name__ == "__main__":
    main()
