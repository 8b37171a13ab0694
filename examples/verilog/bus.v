// A shared bus driven from inside copies: each port of a cell that drives
// the bus is a tristate output, two levels down; a register per cell.
module cell(input d, input clk, input sel, input en, output q, output z);
  reg r;
  always @(posedge clk) r <= ~(d & sel);
  assign q = ~r;
  assign z = en ? ~(r ^ d) : 1'bz;
endmodule

module pair(input [1:0] d, input clk, input [1:0] sel, input en, output [1:0] q, output z);
  cell c0(d[0], clk, sel[0], en & ~sel[1], q[0], z);
  cell c1(d[1], clk, ~sel[1], en & sel[1], q[1], z);
endmodule

module bus(input [3:0] d, input clk, input [1:0] sel, input [1:0] en, output [3:0] q, output z);
  pair p0(d[1:0], clk, sel, en[0], q[1:0], z);
  pair p1(~d[3:2], clk, sel, en[1] & ~en[0], q[3:2], z);
endmodule
