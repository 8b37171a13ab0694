// Registers of every reset and enable form Yosys maps onto its gate cells
// (asynchronous reset to 0 and to 1, synchronous reset, enable, the falling
// edge), in a slice of which three copies drive one tristate bus.
module slice(input clk, input rst, input nset, input en, input oe,
             input [2:0] a, input [2:0] b, output [2:0] y, inout [2:0] bus);
  reg [2:0] q0, q1, q2, q3, q4;
  always @(posedge clk or posedge rst) if (rst) q0 <= 0; else q0 <= ~(a & b) ^ q4;
  always @(posedge clk or negedge nset) if (!nset) q1 <= 3'b111; else if (en) q1 <= a | ~q0;
  always @(posedge clk) if (rst) q2 <= 0; else q2 <= ~(q1 ^ b);
  always @(posedge clk) if (en) q3 <= en ? ~q2 : q3;
  always @(negedge clk) q4 <= ~(q3 | a);
  assign y = ~(q0 & q1) | (q2 ^ ~bus);
  assign bus = oe ? ~(q3 ^ q4) : 3'bzzz;
endmodule

module regkinds(input clk, input rst, input nset, input en, input [2:0] oe,
                input [2:0] a, input [2:0] b, output [2:0] y, output [2:0] bus_out);
  wire [2:0] y0, y1, y2, bus;
  slice s0(.clk(clk), .rst(rst), .nset(nset), .en(en), .oe(oe[0]), .a(a), .b(b), .y(y0), .bus(bus));
  slice s1(.clk(clk), .rst(rst), .nset(nset), .en(~en), .oe(oe[1]), .a(y0), .b(~b), .y(y1), .bus(bus));
  slice s2(.clk(clk), .rst(rst), .nset(nset), .en(en), .oe(oe[2]), .a(~y1), .b(a), .y(y2), .bus(bus));
  assign y = y0 ^ ~y2;
  assign bus_out = bus;
endmodule
