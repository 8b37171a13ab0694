// Verilog models of the built-in cells of NLD designs, for simulators and
// Yosys.  Written by `zelk-verilog cells`; do not edit by hand.
//
// Gates: and/or/nand/nor--N (N inputs in1..inN, output out or nout),
// eor--2/enor--2, aoi/oai (inputs numbered group by group in the order of
// the digits: aoi--21 is nout = ~((in1 & in2) | in3), oai--32 is
// nout = ~((in1 | in2 | in3) & (in4 | in5))), inv- (in, nout), ninv- (in,
// out), high- (out = 1), low- (nout = 0), bgate--2 (a clock gate:
// nout = ~(enb & clock)), ts_buf- (a tristate driver: out = in while nenb
// is 0, high impedance while nenb is 1).
//
// Registers: one state bit q per register; out = q, nout = ~q (the
// complement that serves inverted readers) and scan_out = q.
//   m_clock     the clock: q loads on its rising edge.
//   s_clock     the slave clock of a two-phase register; it carries no
//               information of its own and the model does not read it.
//   clk_enb     load enable, active high; unconnected means enabled.
//   p_reset     asynchronous reset, active high: q becomes 0 (reg-1,
//               regr-1, reg---1 and their scan forms) or 1 (regs-1,
//               srgs-1); reg--1 and sreg--1 have no reset value and
//               ignore it.
//   set, reset  reg---1/sreg---1 load 1 on set, else 0 on reset, else keep
//               q, on the clock edge.
//   scan_clock  second clock of the scan forms: the register loads on the
//               rising edge of m_clock or scan_clock.
//   scan_enb    while 1, the register loads scan_in instead of its data.
// m_clock, s_clock, scan_clock and p_reset are the names that make a net
// a clock or reset net, which the inverter reduction never touches.

module \inv- (in, nout);
  input in;
  output nout;
  assign nout = ~in;
endmodule

module \ninv- (in, out);
  input in;
  output out;
  assign out = in;
endmodule

module \and--2 (in1, in2, out);
  input in1, in2;
  output out;
  assign out = in1 & in2;
endmodule

module \and--3 (in1, in2, in3, out);
  input in1, in2, in3;
  output out;
  assign out = in1 & in2 & in3;
endmodule

module \and--4 (in1, in2, in3, in4, out);
  input in1, in2, in3, in4;
  output out;
  assign out = in1 & in2 & in3 & in4;
endmodule

module \and--5 (in1, in2, in3, in4, in5, out);
  input in1, in2, in3, in4, in5;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5;
endmodule

module \and--6 (in1, in2, in3, in4, in5, in6, out);
  input in1, in2, in3, in4, in5, in6;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6;
endmodule

module \and--7 (in1, in2, in3, in4, in5, in6, in7, out);
  input in1, in2, in3, in4, in5, in6, in7;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7;
endmodule

module \and--8 (in1, in2, in3, in4, in5, in6, in7, in8, out);
  input in1, in2, in3, in4, in5, in6, in7, in8;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8;
endmodule

module \and--9 (in1, in2, in3, in4, in5, in6, in7, in8, in9, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9;
endmodule

module \and--10 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10;
endmodule

module \and--11 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11;
endmodule

module \and--12 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12;
endmodule

module \and--13 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13;
endmodule

module \and--14 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13 & in14;
endmodule

module \and--15 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13 & in14 & in15;
endmodule

module \and--16 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16;
  output out;
  assign out = in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13 & in14 & in15 & in16;
endmodule

module \nand--2 (in1, in2, nout);
  input in1, in2;
  output nout;
  assign nout = ~(in1 & in2);
endmodule

module \nand--3 (in1, in2, in3, nout);
  input in1, in2, in3;
  output nout;
  assign nout = ~(in1 & in2 & in3);
endmodule

module \nand--4 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4);
endmodule

module \nand--5 (in1, in2, in3, in4, in5, nout);
  input in1, in2, in3, in4, in5;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5);
endmodule

module \nand--6 (in1, in2, in3, in4, in5, in6, nout);
  input in1, in2, in3, in4, in5, in6;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6);
endmodule

module \nand--7 (in1, in2, in3, in4, in5, in6, in7, nout);
  input in1, in2, in3, in4, in5, in6, in7;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7);
endmodule

module \nand--8 (in1, in2, in3, in4, in5, in6, in7, in8, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8);
endmodule

module \nand--9 (in1, in2, in3, in4, in5, in6, in7, in8, in9, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9);
endmodule

module \nand--10 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10);
endmodule

module \nand--11 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11);
endmodule

module \nand--12 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12);
endmodule

module \nand--13 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13);
endmodule

module \nand--14 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13 & in14);
endmodule

module \nand--15 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13 & in14 & in15);
endmodule

module \nand--16 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16;
  output nout;
  assign nout = ~(in1 & in2 & in3 & in4 & in5 & in6 & in7 & in8 & in9 & in10 & in11 & in12 & in13 & in14 & in15 & in16);
endmodule

module \or--2 (in1, in2, out);
  input in1, in2;
  output out;
  assign out = in1 | in2;
endmodule

module \or--3 (in1, in2, in3, out);
  input in1, in2, in3;
  output out;
  assign out = in1 | in2 | in3;
endmodule

module \or--4 (in1, in2, in3, in4, out);
  input in1, in2, in3, in4;
  output out;
  assign out = in1 | in2 | in3 | in4;
endmodule

module \or--5 (in1, in2, in3, in4, in5, out);
  input in1, in2, in3, in4, in5;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5;
endmodule

module \or--6 (in1, in2, in3, in4, in5, in6, out);
  input in1, in2, in3, in4, in5, in6;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6;
endmodule

module \or--7 (in1, in2, in3, in4, in5, in6, in7, out);
  input in1, in2, in3, in4, in5, in6, in7;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7;
endmodule

module \or--8 (in1, in2, in3, in4, in5, in6, in7, in8, out);
  input in1, in2, in3, in4, in5, in6, in7, in8;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8;
endmodule

module \or--9 (in1, in2, in3, in4, in5, in6, in7, in8, in9, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9;
endmodule

module \or--10 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10;
endmodule

module \or--11 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11;
endmodule

module \or--12 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12;
endmodule

module \or--13 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13;
endmodule

module \or--14 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13 | in14;
endmodule

module \or--15 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13 | in14 | in15;
endmodule

module \or--16 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16, out);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16;
  output out;
  assign out = in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13 | in14 | in15 | in16;
endmodule

module \nor--2 (in1, in2, nout);
  input in1, in2;
  output nout;
  assign nout = ~(in1 | in2);
endmodule

module \nor--3 (in1, in2, in3, nout);
  input in1, in2, in3;
  output nout;
  assign nout = ~(in1 | in2 | in3);
endmodule

module \nor--4 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4);
endmodule

module \nor--5 (in1, in2, in3, in4, in5, nout);
  input in1, in2, in3, in4, in5;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5);
endmodule

module \nor--6 (in1, in2, in3, in4, in5, in6, nout);
  input in1, in2, in3, in4, in5, in6;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6);
endmodule

module \nor--7 (in1, in2, in3, in4, in5, in6, in7, nout);
  input in1, in2, in3, in4, in5, in6, in7;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7);
endmodule

module \nor--8 (in1, in2, in3, in4, in5, in6, in7, in8, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8);
endmodule

module \nor--9 (in1, in2, in3, in4, in5, in6, in7, in8, in9, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9);
endmodule

module \nor--10 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10);
endmodule

module \nor--11 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11);
endmodule

module \nor--12 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12);
endmodule

module \nor--13 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13);
endmodule

module \nor--14 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13 | in14);
endmodule

module \nor--15 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13 | in14 | in15);
endmodule

module \nor--16 (in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16, nout);
  input in1, in2, in3, in4, in5, in6, in7, in8, in9, in10, in11, in12, in13, in14, in15, in16;
  output nout;
  assign nout = ~(in1 | in2 | in3 | in4 | in5 | in6 | in7 | in8 | in9 | in10 | in11 | in12 | in13 | in14 | in15 | in16);
endmodule

module \eor--2 (in1, in2, out);
  input in1, in2;
  output out;
  assign out = in1 ^ in2;
endmodule

module \enor--2 (in1, in2, nout);
  input in1, in2;
  output nout;
  assign nout = ~(in1 ^ in2);
endmodule

module \aoi--21 (in1, in2, in3, nout);
  input in1, in2, in3;
  output nout;
  assign nout = ~((in1 & in2) | (in3));
endmodule

module \oai--21 (in1, in2, in3, nout);
  input in1, in2, in3;
  output nout;
  assign nout = ~((in1 | in2) & (in3));
endmodule

module \aoi--22 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~((in1 & in2) | (in3 & in4));
endmodule

module \oai--22 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~((in1 | in2) & (in3 | in4));
endmodule

module \aoi--31 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~((in1 & in2 & in3) | (in4));
endmodule

module \oai--31 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~((in1 | in2 | in3) & (in4));
endmodule

module \aoi--32 (in1, in2, in3, in4, in5, nout);
  input in1, in2, in3, in4, in5;
  output nout;
  assign nout = ~((in1 & in2 & in3) | (in4 & in5));
endmodule

module \oai--32 (in1, in2, in3, in4, in5, nout);
  input in1, in2, in3, in4, in5;
  output nout;
  assign nout = ~((in1 | in2 | in3) & (in4 | in5));
endmodule

module \aoi--33 (in1, in2, in3, in4, in5, in6, nout);
  input in1, in2, in3, in4, in5, in6;
  output nout;
  assign nout = ~((in1 & in2 & in3) | (in4 & in5 & in6));
endmodule

module \oai--33 (in1, in2, in3, in4, in5, in6, nout);
  input in1, in2, in3, in4, in5, in6;
  output nout;
  assign nout = ~((in1 | in2 | in3) & (in4 | in5 | in6));
endmodule

module \aoi--211 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~((in1 & in2) | (in3) | (in4));
endmodule

module \oai--211 (in1, in2, in3, in4, nout);
  input in1, in2, in3, in4;
  output nout;
  assign nout = ~((in1 | in2) & (in3) & (in4));
endmodule

module \aoi--221 (in1, in2, in3, in4, in5, nout);
  input in1, in2, in3, in4, in5;
  output nout;
  assign nout = ~((in1 & in2) | (in3 & in4) | (in5));
endmodule

module \oai--221 (in1, in2, in3, in4, in5, nout);
  input in1, in2, in3, in4, in5;
  output nout;
  assign nout = ~((in1 | in2) & (in3 | in4) & (in5));
endmodule

module \aoi--222 (in1, in2, in3, in4, in5, in6, nout);
  input in1, in2, in3, in4, in5, in6;
  output nout;
  assign nout = ~((in1 & in2) | (in3 & in4) | (in5 & in6));
endmodule

module \oai--222 (in1, in2, in3, in4, in5, in6, nout);
  input in1, in2, in3, in4, in5, in6;
  output nout;
  assign nout = ~((in1 | in2) & (in3 | in4) & (in5 | in6));
endmodule

module \reg-1 (in, clk_enb, m_clock, s_clock, p_reset, out, nout);
  input in, clk_enb, m_clock, s_clock, p_reset;
  output out, nout;
  reg q;
  always @(posedge m_clock or posedge p_reset)
    if (p_reset) q <= 1'b0;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
endmodule

module \regr-1 (in, clk_enb, m_clock, s_clock, p_reset, out, nout);
  input in, clk_enb, m_clock, s_clock, p_reset;
  output out, nout;
  reg q;
  always @(posedge m_clock or posedge p_reset)
    if (p_reset) q <= 1'b0;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
endmodule

module \regs-1 (in, clk_enb, m_clock, s_clock, p_reset, out, nout);
  input in, clk_enb, m_clock, s_clock, p_reset;
  output out, nout;
  reg q;
  always @(posedge m_clock or posedge p_reset)
    if (p_reset) q <= 1'b1;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
endmodule

module \reg--1 (in, clk_enb, m_clock, s_clock, p_reset, out, nout);
  input in, clk_enb, m_clock, s_clock, p_reset;
  output out, nout;
  reg q;
  always @(posedge m_clock)
    if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
endmodule

module \reg---1 (set, reset, m_clock, s_clock, p_reset, out, nout);
  input set, reset, m_clock, s_clock, p_reset;
  output out, nout;
  reg q;
  always @(posedge m_clock or posedge p_reset)
    if (p_reset) q <= 1'b0;
    else if (set === 1'b1) q <= 1'b1;
    else if (reset === 1'b1) q <= 1'b0;
  assign out = q;
  assign nout = ~q;
endmodule

module \sreg-1 (in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset, out, nout, scan_out);
  input in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset;
  output out, nout, scan_out;
  reg q;
  wire clock = m_clock | (scan_clock === 1'b1);
  always @(posedge clock or posedge p_reset)
    if (p_reset) q <= 1'b0;
    else if (scan_enb === 1'b1) q <= scan_in;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
  assign scan_out = q;
endmodule

module \srgr-1 (in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset, out, nout, scan_out);
  input in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset;
  output out, nout, scan_out;
  reg q;
  wire clock = m_clock | (scan_clock === 1'b1);
  always @(posedge clock or posedge p_reset)
    if (p_reset) q <= 1'b0;
    else if (scan_enb === 1'b1) q <= scan_in;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
  assign scan_out = q;
endmodule

module \srgs-1 (in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset, out, nout, scan_out);
  input in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset;
  output out, nout, scan_out;
  reg q;
  wire clock = m_clock | (scan_clock === 1'b1);
  always @(posedge clock or posedge p_reset)
    if (p_reset) q <= 1'b1;
    else if (scan_enb === 1'b1) q <= scan_in;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
  assign scan_out = q;
endmodule

module \sreg--1 (in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset, out, nout, scan_out);
  input in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset;
  output out, nout, scan_out;
  reg q;
  wire clock = m_clock | (scan_clock === 1'b1);
  always @(posedge clock)
    if (scan_enb === 1'b1) q <= scan_in;
    else if (clk_enb !== 1'b0) q <= in;
  assign out = q;
  assign nout = ~q;
  assign scan_out = q;
endmodule

module \sreg---1 (set, reset, scan_in, scan_enb, m_clock, s_clock, scan_clock, p_reset, out, nout, scan_out);
  input set, reset, scan_in, scan_enb, m_clock, s_clock, scan_clock, p_reset;
  output out, nout, scan_out;
  reg q;
  wire clock = m_clock | (scan_clock === 1'b1);
  always @(posedge clock or posedge p_reset)
    if (p_reset) q <= 1'b0;
    else if (scan_enb === 1'b1) q <= scan_in;
    else if (set === 1'b1) q <= 1'b1;
    else if (reset === 1'b1) q <= 1'b0;
  assign out = q;
  assign nout = ~q;
  assign scan_out = q;
endmodule

module \high- (out);
  output out;
  assign out = 1'b1;
endmodule

module \low- (nout);
  output nout;
  assign nout = 1'b0;
endmodule

module \ts_buf- (in, nenb, out);
  input in, nenb;
  output out;
  assign out = nenb ? 1'bz : in;
endmodule

module \bgate--2 (enb, clock, nout);
  input enb, clock;
  output nout;
  assign nout = ~(enb & clock);
endmodule
