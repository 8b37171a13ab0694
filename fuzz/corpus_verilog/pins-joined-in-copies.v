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
  wire \c8.nout ;
  wire \c7.nout ;
  wire \c7.in1 ;
  wire \c6.in2 ;
  wire \c4.m2o1 ;
  wire \c3.m2o2 ;
  wire \c3.m2o1 ;
  wire \c8.in1 ;
  assign z1 = a1;
  m1 c1(.m1o1(\c8.in1 ), .m_clock(m_clock), .m1i1(VDD));
  m1 c2(.m1o1(z3), .m_clock(m_clock), .m1i1(\c8.in1 ));
  m2 c3(.m2o2(\c3.m2o2 ), .m2i2(a2), .m2i1(a3), .m2i3(z3), .m2o1(\c3.m2o1 ));
  m2 c4(.m2o2(\c6.in2 ), .m2i1(m_clock), .m2i2(a3), .m2i3(z2), .m2o1(\c4.m2o1 ));
  \inv-  c5(.nout(z2), .in(m_clock));
  \eor--2  c6(.out(\c7.in1 ), .in1(z3), .in2(\c6.in2 ));
  \nand--2  c7(.nout(\c7.nout ), .in2(z2), .in1(\c7.in1 ));
  \nor--2  c8(.nout(\c8.nout ), .in2(m_clock), .in1(\c8.in1 ));
endmodule

module m2(m2i1, m2i2, m2i3, m2o1, m2o2);
  (* zelk_type = "undefined" *)
  input m2i1;
  (* zelk_type = "scan_in" *)
  input m2i2;
  (* zelk_type = "scan_enb" *)
  input m2i3;
  (* zelk_type = "static" *)
  output m2o1;
  (* zelk_type = "clock" *)
  output m2o2;
  wire \c11.nout ;
  wire \c11.in2 ;
  wire \c9.out ;
  wire \c9.in2 ;
  wire \c7.out ;
  wire \c7.in2 ;
  wire \c13.in ;
  wire \c3.in4 ;
  wire \c12.in ;
  wire \c6.in ;
  wire \c3.in3 ;
  wire \c1.out ;
  assign m2o2 = m2i1;
  \and--3  c1(.out(\c1.out ), .in3(m2i1), .in1(m2i2), .in2(m2i3));
  \low-  c2(.nout(\c3.in3 ));
  \oai--22  c3(.nout(\c13.in ), .in3(\c3.in3 ), .in1(\c6.in ), .in2(\c12.in ), .in4(\c3.in4 ));
  \inv-  c4(.nout(\c6.in ), .in(m2i1));
  \inv-  c5(.nout(\c12.in ), .in(m2i2));
  \inv-  c6(.nout(\c3.in4 ), .in(\c6.in ));
  \and--2  c7(.out(\c7.out ), .in1(\c7.in2 ), .in2(\c7.in2 ));
  \inv-  c8(.nout(\c7.in2 ), .in(m2i1));
  \and--2  c9(.out(\c9.out ), .in1(\c9.in2 ), .in2(\c9.in2 ));
  \inv-  c10(.nout(\c9.in2 ), .in(m2i1));
  \nand--2  c11(.nout(\c11.nout ), .in1(m2i1), .in2(\c11.in2 ));
  \inv-  c12(.nout(\c11.in2 ), .in(\c12.in ));
  \inv-  c13(.nout(m2o1), .in(\c13.in ));
endmodule

module m1(m_clock, m1i1, m1o1);
  input m_clock;
  (* zelk_type = "scan_in" *)
  input m1i1;
  output m1o1;
  wire \c3.nout ;
  wire \c2.out ;
  wire \c3.in2 ;
  \eor--2  c1(.out(\c3.in2 ), .in1(m_clock), .in2(m1i1));
  \ninv-  c2(.out(\c2.out ), .in(m1i1));
  \nor--2  c3(.nout(\c3.nout ), .in2(\c3.in2 ), .in1(m1o1));
  \inv-  c4(.nout(m1o1), .in(\c3.in2 ));
endmodule

