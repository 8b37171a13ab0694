// Four copies of a slice with a register each, and a tristate bus that
// two of them drive.
module slice(input a, input b, input c, input clk, output y, output q);
  wire t = ~(a & b);
  reg r;
  always @(posedge clk) r <= ~(t ^ c);
  assign y = ~(t | ~c);
  assign q = ~r;
endmodule

module slices(input [3:0] a, input [3:0] b, input c, input clk, input [1:0] en,
              output [3:0] y, output [3:0] q, output bus);
  slice s0(a[0], b[0], c, clk, y[0], q[0]);
  slice s1(a[1], b[1], ~c, clk, y[1], q[1]);
  slice s2(a[2], b[2], y[0], clk, y[2], q[2]);
  slice s3(a[3], ~b[3], y[1], clk, y[3], q[3]);
  assign bus = en[0] ? ~(y[0] & q[1]) : 1'bz;
  assign bus = en[1] ? ~y[2] : 1'bz;
endmodule
