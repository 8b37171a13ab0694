// A counter with a synchronous reset, an enable and a load, as plain
// synthesis maps it: registers with a synchronous reset, with and without
// an enable.
module counter(input clk, input rst, input en, input ld, input [3:0] d,
               output reg [3:0] q, output reg wrap, output reg [1:0] hold);
  always @(posedge clk)
    if (rst) q <= 4'd0;
    else if (ld) q <= d;
    else if (en) q <= q + 4'd1;
  always @(posedge clk)
    if (rst) wrap <= 1'b1;
    else wrap <= ~(q == 4'hf);
  always @(negedge clk)
    if (!rst) hold <= 2'b11;
    else if (en) hold <= ~q[1:0];
endmodule
