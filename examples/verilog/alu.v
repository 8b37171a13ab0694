// A small ALU with a registered result and a reset.
module alu(input [3:0] x, input [3:0] y, input [1:0] op, input clk, input rst,
           output reg [3:0] r, output z);
  wire [3:0] s = op[0] ? x + y : x & ~y;
  wire [3:0] v = op[1] ? ~(x | y) : s ^ {4{op[0]}};
  always @(posedge clk or posedge rst)
    if (rst) r <= 4'b0; else r <= v;
  assign z = ~|r;
endmodule
