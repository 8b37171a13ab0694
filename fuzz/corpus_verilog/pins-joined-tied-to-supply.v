// Written by zelk-verilog from the NLD design top.
// Built-in cells are the modules of share/zelk_cells.v.

module top(m_clock, a1, a2, a3, VDD, z1, z2, z3);
  input m_clock;
  input a1;
  input a2;
  input a3;
  (* zelk_type = "global" *)
  input VDD;
  output z1;
  output z2;
  output z3;
  wire \c11.out ;
  wire \c11.in2 ;
  wire \c10.out ;
  wire \c13.in ;
  wire \c7.out ;
  wire \c5.out ;
  wire \c5.in2 ;
  wire \c8.in2 ;
  wire \c11.in1 ;
  wire \c3.nout ;
  wire \c11.in3 ;
  wire \c8.in3 ;
  m1 c1(.m1o2(z1), .m1i1(\c8.in3 ), .m1o1(\c11.in3 ));
  \inv-  c2(.nout(\c8.in3 ), .in(a1));
  \nor--2  c3(.nout(\c3.nout ), .in1(a1), .in2(VDD));
  m1 c4(.m1o2(\c8.in2 ), .m1i1(VDD), .m1o1(\c11.in1 ));
  \eor--2  c5(.out(\c5.out ), .in1(\c5.in2 ), .in2(\c5.in2 ));
  \inv-  c6(.nout(\c5.in2 ), .in(a3));
  \eor--2  c7(.out(\c7.out ), .in1(a3), .in2(\c8.in2 ));
  \oai--22  c8(.nout(\c13.in ), .in1(\c8.in3 ), .in3(\c8.in3 ), .in2(\c8.in2 ), .in4(z3));
  \inv-  c9(.nout(z3), .in(m_clock));
  \and--2  c10(.out(\c10.out ), .in2(a2), .in1(\c11.in1 ));
  \and--3  c11(.out(\c11.out ), .in3(\c11.in3 ), .in1(\c11.in1 ), .in2(\c11.in2 ));
  \inv-  c12(.nout(\c11.in2 ), .in(\c13.in ));
  \inv-  c13(.nout(z2), .in(\c13.in ));
endmodule

module m1(m1i1, m1o1, m1o2);
  (* zelk_type = "clock" *)
  input m1i1;
  (* zelk_type = "static" *)
  output m1o1;
  (* zelk_type = "clock" *)
  output m1o2;
  wire \c3.nout ;
  wire \c3.in2 ;
  wire \c4.in ;
  assign m1o1 = m1i1;
  \low-  c1(.nout(\c4.in ));
  \low-  c2(.nout(m1o2));
  \enor--2  c3(.nout(\c3.nout ), .in1(m1o2), .in2(\c3.in2 ));
  \inv-  c4(.nout(\c3.in2 ), .in(\c4.in ));
endmodule

