// Nested modules: two copies of a 4-to-1 multiplexer inside a pair module.
module mux4(input [3:0] d, input [1:0] s, output y);
  assign y = ~(s[1] ? (s[0] ? d[3] : d[2]) : (s[0] ? d[1] : d[0]));
endmodule

module pair(input [7:0] d, input [1:0] s, output [1:0] y);
  mux4 m0(d[3:0], s, y[0]);
  mux4 m1(d[7:4], ~s, y[1]);
endmodule

module mux(input [7:0] d, input [1:0] s, output [1:0] y, output [1:0] w);
  pair p0(d, s, y);
  pair p1(~d, s, w);
endmodule
