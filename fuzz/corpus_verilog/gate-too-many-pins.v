// Written by zelk-verilog from the NLD design top.
// Built-in cells are the modules of share/zelk_cells.v.

module top(a, b, c, d, m_clock, s1, s2, y, q);
  input a;
  input b;
  input c;
  input d;
  input m_clock;
  output s1;
  output s2;
  output y;
  output q;
  wire \o1.in2 ;
  wire \r1.in ;
  wire \i1.in ;
  half u1(.s(s1), .a(a), .b(b), .c(c));
  half u2(.s(s2), .b(a), .a(b), .c(d));
  \nand--2  n1(.nout(\i1.in ), .in1(a), .in2(b));
  \inv-  i1(.nout(\r1.in ), .in(\i1.in ));
  \inv-  i2(.nout(\o1.in2 ), .in(d));
  \or--2  o1(.out(y), .in1(\r1.in ), .in2(\o1.in2 ));
  \reg-1  r1(.out(q), .in(\r1.in ), .m_clock(m_clock));
  keep k1(.x(y));
endmodule

module keep(x);
  input x;
  \buf  b1(.in(x));
endmodule

module half(a, b, c, s);
  input a;
  input b;
  input c;
  output s;
  wire \x1.in1 ;
  wire \x1.in2 ;
  \and--2  g1(.out(\x1.in1 ), .in1(a), .int(\x1.in2 ), .in(c));
  \eor--2  x1(.out(s), .in2(\x1.in2 ), .in1(\x1.in1 ));
endmodule

(* blackbox *)
module \buf (in, out);
  input in;
  output out;
endmodule

