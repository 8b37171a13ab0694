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
  (* zelk_type = "output" *)
  output z3;
  wire \c14.nout ;
  wire \c11.scan_out ;
  wire \c11.nout ;
  wire \c11.out ;
  wire \c11.p_reset ;
  wire \c11.in ;
  wire \c15.in ;
  wire \c9.out ;
  wire \c8.nout ;
  wire \c8.out ;
  wire \c6.nout ;
  wire \c6.out ;
  wire \c6.p_reset ;
  wire \c7.in ;
  wire \c4.m1o1 ;
  wire \c8.reset ;
  wire \c11.clk_enb ;
  wire \c16.in ;
  wire \c10.in2 ;
  wire \c12.in ;
  m1 c1(.m1o2(\c10.in2 ), .m_clock(m_clock), .m1i1(a3), .m1o1(\c12.in ));
  m1 c2(.m1o2(\c11.clk_enb ), .m_clock(m_clock), .m1i1(a3), .m1o1(\c16.in ));
  m2 c3(.m2o1(\c8.reset ), .m2i2(\c12.in ), .m2i1(\c11.clk_enb ));
  m1 c4(.m1o2(\c7.in ), .m_clock(m_clock), .m1i1(\c10.in2 ), .m1o1(\c4.m1o1 ));
  m2 c5(.m2o1(z3), .m2i1(\c11.clk_enb ), .m2i2(\c11.clk_enb ));
  \regr-1  c6(.nout(\c6.nout ), .m_clock(m_clock), .in(\c16.in ), .p_reset(\c6.p_reset ), .out(\c6.out ));
  \inv-  c7(.nout(\c6.p_reset ), .in(\c7.in ));
  \reg---1  c8(.nout(\c8.nout ), .m_clock(m_clock), .p_reset(\c10.in2 ), .set(\c8.reset ), .reset(\c8.reset ), .out(\c8.out ));
  \eor--2  c9(.out(\c9.out ), .in1(\c12.in ), .in2(z3));
  \eor--2  c10(.out(\c15.in ), .in1(\c12.in ), .in2(\c10.in2 ));
  \sreg--1  c11(.scan_out(\c11.scan_out ), .m_clock(m_clock), .clk_enb(\c11.clk_enb ), .in(\c11.in ), .p_reset(\c11.p_reset ), .out(\c11.out ), .nout(\c11.nout ));
  \inv-  c12(.nout(\c11.in ), .in(\c12.in ));
  \inv-  c13(.nout(\c11.p_reset ), .in(a1));
  \low-  c14(.nout(\c14.nout ));
  \inv-  c15(.nout(z1), .in(\c15.in ));
  \inv-  c16(.nout(z2), .in(\c16.in ));
endmodule

module m2(m2i1, m2i2, m2o1);
  (* zelk_type = "static" *)
  input m2i1;
  (* zelk_type = "undefined" *)
  input m2i2;
  (* zelk_type = "output-connected" *)
  output m2o1;
  wire \c10.nout ;
  wire \c8.nout ;
  wire \c8.in2 ;
  wire \c8.in1 ;
  wire \c7.nenb ;
  wire \c1.nout ;
  wire \c9.in ;
  \aoi--21  c1(.nout(\c1.nout ), .in1(m2i1), .in2(\c9.in ), .in3(\c9.in ));
  \inv-  c2(.nout(\c9.in ), .in(m2i1));
  \ts_buf-  c3(.out(m2o1), .in(m2i1), .nenb(\c9.in ));
  \ts_buf-  c4(.out(m2o1), .in(\c9.in ), .nenb(\c9.in ));
  \eor--2  c5(.out(\c7.nenb ), .in1(m2i1), .in2(\c9.in ));
  \ts_buf-  c6(.out(\c8.in1 ), .nenb(m2i1), .in(\c7.nenb ));
  \ts_buf-  c7(.out(\c8.in1 ), .in(m2i1), .nenb(\c7.nenb ));
  \nor--2  c8(.nout(\c8.nout ), .in1(\c8.in1 ), .in2(\c8.in2 ));
  \inv-  c9(.nout(\c8.in2 ), .in(\c9.in ));
  \low-  c10(.nout(\c10.nout ));
endmodule

module m1(m_clock, m1i1, m1o1, m1o2);
  input m_clock;
  (* zelk_type = "undefined" *)
  input m1i1;
  (* zelk_type = "clock" *)
  output m1o1;
  (* zelk_type = "scan_out" *)
  output m1o2;
  wire \c5.nout ;
  wire \c3.nout ;
  wire \c5.in2 ;
  wire \c6.in ;
  \or--2  c1(.out(\c6.in ), .in1(m_clock), .in2(m1o2));
  \inv-  c2(.nout(m1o2), .in(m1i1));
  \nand--2  c3(.nout(\c3.nout ), .in1(\c5.in2 ), .in2(\c5.in2 ));
  \inv-  c4(.nout(\c5.in2 ), .in(m_clock));
  \nand--2  c5(.nout(\c5.nout ), .in1(m1o2), .in2(\c5.in2 ));
  \inv-  c6(.nout(m1o1), .in(\c6.in ));
endmodule

