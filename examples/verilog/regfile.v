// A register file (a memory that Yosys maps to registers and multiplexers)
// read by an ALU, and two copies of a small state machine.
module regfile_mem(input clk, input we, input [2:0] wa, input [2:0] ra1, input [2:0] ra2,
                   input [7:0] wd, output [7:0] rd1, output [7:0] rd2);
  reg [7:0] mem [0:7];
  always @(posedge clk) if (we) mem[wa] <= wd;
  assign rd1 = mem[ra1];
  assign rd2 = mem[ra2];
endmodule

module regfile_alu(input [7:0] a, input [7:0] b, input [2:0] op, output reg [7:0] y, output z);
  always @*
    case (op)
      3'd0: y = a + b;
      3'd1: y = a - b;
      3'd2: y = a & b;
      3'd3: y = a | b;
      3'd4: y = a ^ b;
      3'd5: y = ~a;
      3'd6: y = a << 1;
      default: y = {a[0], a[7:1]};
    endcase
  assign z = ~|y;
endmodule

module regfile_fsm(input clk, input rst, input go, output reg [1:0] st);
  always @(posedge clk)
    if (rst) st <= 2'd0;
    else
      case (st)
        2'd0: if (go) st <= 2'd1;
        2'd1: st <= 2'd2;
        2'd2: st <= go ? 2'd3 : 2'd0;
        default: st <= 2'd0;
      endcase
endmodule

module regfile(input clk, input rst, input we, input go, input [2:0] wa, input [2:0] ra1,
               input [2:0] ra2, input [2:0] op, input [7:0] wd, output [7:0] y, output z,
               output [1:0] st, output [1:0] st2);
  wire [7:0] r1, r2;
  regfile_mem m(.clk(clk), .we(we), .wa(wa), .ra1(ra1), .ra2(ra2), .wd(wd), .rd1(r1), .rd2(r2));
  regfile_alu a(.a(r1), .b(r2), .op(op), .y(y), .z(z));
  regfile_fsm f1(.clk(clk), .rst(rst), .go(go), .st(st));
  regfile_fsm f2(.clk(clk), .rst(go), .go(rst), .st(st2));
endmodule
