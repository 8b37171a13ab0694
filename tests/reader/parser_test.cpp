#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "reader/reader.h"

namespace zelk {
namespace {

struct Parsed {
  std::unique_ptr<Design> d = std::make_unique<Design>();
  Module* m = nullptr;
};

Parsed parse(const std::string& text, bool pcd = false) {
  Parsed p;
  Source in(text.data(), text.size());
  p.m = pcd ? pcd_par(*p.d, in, "lib/c.pcd") : nld_par(*p.d, in, "dir/t.nld");
  return p;
}

// The message of the fault the text raises; "no fault" if it parses.
std::string fault(const std::string& text, bool pcd = false) {
  try {
    parse(text, pcd);
  } catch (const Fault& f) {
    return f.message;
  }
  return "no fault";
}

std::string err(int line) { return "\"dir/t.nld\", line " + std::to_string(line) + ": error\n"; }

TEST(ReaderParse, FileLevelErrors) {
  EXPECT_EQ(fault(""), err(1));
  EXPECT_EQ(fault("; only\n; comments\n"), err(3));
  EXPECT_EQ(fault("def-module m\n"), err(1));
  EXPECT_EQ(fault("(\ndef-pin m)\n"), err(2));
  EXPECT_EQ(fault("(def-module)\n"), err(1));
  EXPECT_EQ(fault("(def-module m"), err(1));  // the text ends in a name
  EXPECT_EQ(fault("(def-module a)(def-module b)\n"), err(1));
  EXPECT_EQ(fault("(def-module m)\n\n)\n"), err(3));
  EXPECT_EQ(fault("(def-module m\n x)\n"), err(2));
  EXPECT_EQ(fault("(def-module m\n .)\n"), err(2));
  EXPECT_EQ(fault("(def-module m\n ())\n"), err(2));
  EXPECT_EQ(fault("(def-module m\n ((x)))\n"), err(2));
  EXPECT_EQ(fault("(def-module m\n (def-module x))\n"), err(2));
  // Line ends of carriage return and newline: the "\r" after ")" is a name.
  EXPECT_EQ(fault("(def-module m\r\n(def-pin a type input)\r\n)\r\n"), err(3));
  // Unknown forms are skipped whole, whatever their nesting; unclosed ones
  // run into the end of the text.
  EXPECT_EQ(fault("(def-module m (DEF-PIN a type input) (area 12) (foo (bar) baz))\n"),
            "no fault");
  EXPECT_EQ(fault("(def-module m\n(foo (bar\n"), "\"dir/t.nld\", line 3: too many )'s\n");
  // An unclosed def-module form is accepted.
  EXPECT_EQ(fault("(def-module m (def-pin a type input)\n"), "no fault");
}

TEST(ReaderParse, FormErrors) {
  const std::string h = "(def-module m\n";
  EXPECT_EQ(fault(h + "(def-pin)"), err(2));
  EXPECT_EQ(fault(h + "(def-pin\n(a type input))"), err(3));
  EXPECT_EQ(fault(h + "(def-pin a type input (x))"), err(2));
  EXPECT_EQ(fault(h + "(def-pin a type input . )"), err(2));
  EXPECT_EQ(fault(h + "(def-pin a type input"), err(2));  // the text ends in a name
  EXPECT_EQ(fault(h + "(def-pin a type input\n"), err(3));
  EXPECT_EQ(fault(h + "(def-pin a type nosuch)"), err(2));
  EXPECT_EQ(fault(h + "(def-pin a type ( )"), err(2));
  EXPECT_EQ(fault(h + "(def-pin a flavour input)"), err(2));
  EXPECT_EQ(fault(h + "(def-pin a type input load 1)"), err(2));
  EXPECT_EQ(fault(h + "(def-comp)"), err(2));
  EXPECT_EQ(fault(h + "(def-comp inv- a . b)"), err(2));
  EXPECT_EQ(fault(h + "(def-comp inv- a (b))"), err(2));
  EXPECT_EQ(fault(h + "(def-comp inv- a\n"), err(3));
  EXPECT_EQ(fault(h + "(def-net (a))"), err(2));
  EXPECT_EQ(fault(h + "(def-net .)"), err(2));
  // A member that is no pin needs "." and a pin name.
  EXPECT_EQ(fault(h + "(def-comp inv- u)\n(def-net u\n)"), err(4));
  EXPECT_EQ(fault(h + "(def-comp inv- u)(def-net u.)"), err(2));
  // A pin defined only later is no pin yet.
  EXPECT_EQ(fault(h + "(def-net a)(def-pin a type input)"), err(2));
  // Instances must be defined before a net names them.
  EXPECT_EQ(fault(h + "(def-net u1.in)\n(def-comp inv- u1)\n"),
            "\"dir/t.nld\", line 2: u1 undefined\n");
  // The message names the line of the pin name, after the member's gaps.
  EXPECT_EQ(fault(h + "(def-comp inv- u2)\n(def-net u1\n. ; gap\n in)"),
            "\"dir/t.nld\", line 5: u1 undefined\n");
}

TEST(ReaderParse, SilentStops) {
  const std::string h = "(def-module m\n";
  EXPECT_EQ(fault(h + "(def-pin x note clock)\n"), "");
  EXPECT_EQ(fault(h + "(def-pin x type input type input)\n"), "");
  EXPECT_EQ(fault(h + "(def-comp and--1 a)\n"), "");
  EXPECT_EQ(fault(h + "(def-comp inv- i)(def-net i.out)\n"), "");
  EXPECT_EQ(fault(h + "(def-comp eor- e)(def-net e.in3)\n"), "");
  // Numbers in PCD files.
  EXPECT_EQ(fault(h + "(def-pin a type input load)\n", true), "");
  EXPECT_EQ(fault(h + "(def-pin a type input load (x))\n", true), "");
  EXPECT_EQ(fault(h + "(def-pin a type input load 1.)\n", true), "");
  EXPECT_EQ(fault(h + "(def-pin a type input load .)\n", true), "");
  EXPECT_EQ(fault(h + "area ", true), "");
  EXPECT_EQ(fault(h + "area .(x)", true), "");
  EXPECT_EQ(fault(h + "cell_name (", true), "");
  EXPECT_EQ(fault(h + "cell_name)", true), "");
  // Other words directly inside def-module are errors in PCD files too.
  EXPECT_EQ(fault(h + "area 1 load 2)\n", true), "\"lib/c.pcd\", line 2: error\n");
  EXPECT_EQ(fault(h + "(def-pin a type input) x)\n", true), "\"lib/c.pcd\", line 2: error\n");
}

TEST(ReaderParse, FirstFaultInFileOrder) {
  const std::string h = "(def-module m\n(def-comp inv- u)\n";
  EXPECT_EQ(fault(h + "(def-net u.in\n x.in)\n(foo"), "\"dir/t.nld\", line 4: x undefined\n");
  EXPECT_EQ(fault(h + "(def-net u.in x.in\n ("), "\"dir/t.nld\", line 4: x undefined\n");
  EXPECT_EQ(fault(h + "(def-net u.out u.in (x"), "");
  EXPECT_EQ(fault(h + "(def-net u.in u.nout)\n(def-pin)"), err(4));
  EXPECT_EQ(fault(h + "(def-net u.in)\n(def-comp inv- v)(def-net v.in w.in)\n"),
            "\"dir/t.nld\", line 4: w undefined\n");
  std::string many = h + "(def-net";
  for (int k = 0; k < 80; ++k) many += (k == 50 ? "\n y.in" : " u.in");
  EXPECT_EQ(fault(many + "\n(def-pin"), "\"dir/t.nld\", line 4: y undefined\n");
}

// A file with more members than are looked up beside the parser.  Nets
// of four members each, one per line, on instances c0, c1, ...; `bad`
// replaces the members of net number k.
std::string large(int nets, const std::map<int, std::string>& bad = {}, const std::string& tail = ")") {
  std::string text = "(def-module m\n(def-comp inv-";
  for (int k = 0; k < nets; ++k) text += " c" + std::to_string(k);
  text += ")\n";
  for (int k = 0; k < nets; ++k) {
    auto b = bad.find(k);
    const std::string c = "c" + std::to_string(k);
    text += "(def-net " + (b != bad.end() ? b->second : c + ".nout " + c + ".in " + c + ".in " + c + ".in") + ")\n";
  }
  return text + tail;
}

TEST(ReaderParse, FirstFaultInFileOrderInLargeFiles) {
  const int nets = 20000;  // 80,000 members
  // Line of net k: the module and def-comp lines come first.
  auto line = [](int k) { return "\"dir/t.nld\", line " + std::to_string(k + 3) + ": "; };
  Parsed p = parse(large(nets));
  int resolved = 0;
  for (const Net* n = p.m->nets; n; n = n->next)
    for (const Link* t = n->links; t; t = t->next)
      resolved += t->inst && t->inst->cls == kInv && t->pin_type == (t->pin_name[0] == 'n' ? kwOutput : kwInput);
  EXPECT_EQ(resolved, 4 * nets);
  // Late in the file, after a member fault and then a parse error.
  EXPECT_EQ(fault(large(nets, {{15000, "c1.in z.in"}}, "(")), line(15000) + "z undefined\n");
  EXPECT_EQ(fault(large(nets, {{15000, "c1.in c2.bogus"}, {15001, "("}})), "");
  EXPECT_EQ(fault(large(nets, {{19000, "c1.in c2.in z.in"}, {19500, "c1.in y.in"}})),
            line(19000) + "z undefined\n");
  // A def-comp waits for every member before it: none sees its instances.
  EXPECT_EQ(fault(large(nets, {{12000, "c1.in late.in) (def-comp inv- late"}})),
            line(12000) + "late undefined\n");
  EXPECT_EQ(fault(large(nets, {}, "(def-comp inv- late)(def-net late.in c0.in x.in))")),
            line(nets) + "x undefined\n");
}

// The table of component names is made at a size guessed from the file's
// bytes; a file that names its components in fewer bytes grows it from
// there, and every member still finds its own component.
TEST(ReaderParse, DenselyNamedComponentsAllFound) {
  const int comps = 30000;
  std::string text = "(def-module m\n(def-comp inv-";
  for (int k = 0; k < comps; ++k) text += " c" + std::to_string(k);
  text += ")\n";
  for (int k = 0; k < comps; k += 97) text += "(def-net c" + std::to_string(k) + ".in)\n";
  Parsed p = parse(text + ")");
  std::set<std::string> found, want;
  for (int k = 0; k < comps; k += 97) want.insert("c" + std::to_string(k));
  for (const Net* n = p.m->nets; n; n = n->next)
    for (const Link* t = n->links; t; t = t->next) found.insert(t->inst->name);
  EXPECT_EQ(found, want);
}

TEST(ReaderParse, PcdAttributesAndSkippedForms) {
  Parsed p = parse("(def-module dff area 12 gates .5 cell_name dff1 power 1.5\n"
                   " (def-pin q type output note clock load .7) (def-comp inv- i1)\n"
                   " (def-net q i1.in) area 3 cell_name\nx)\n", true);
  EXPECT_STREQ(p.m->pins->name, "q");
  EXPECT_EQ(p.m->pins->note, kwClock);
  EXPECT_EQ(p.m->comps, nullptr);  // forms of NLD files are skipped
  EXPECT_EQ(p.m->nets, nullptr);
  // An attribute may end the text; the parts of a number need not be digits.
  EXPECT_EQ(fault("(def-module c area 1 power x.y\n", true), "no fault");
  EXPECT_EQ(fault("(def-module c (def-pin x type def-net))\n"), "no fault");
  EXPECT_EQ(parse("(def-module c (def-pin x type def-net))\n").m->pins->type, kwDefNet);
  // def-comp and def-net of an NLD file are real forms: a PCD def-net may
  // name anything.
  EXPECT_EQ(fault("(def-module c (def-net zz.q))\n", true), "no fault");
}

TEST(ReaderClass, CellNamesAndFanIn) {
  struct Case {
    const char* name;
    int cls;
    int fan_in;
  };
  const Case ok[] = {
      {"nand--3", kNand, 3}, {"and-", kAnd, 0}, {"and-2", kUser, 0}, {"aoi--211", kAoi, 211},
      {"oai--222", kOai, 222}, {"aoi-", kAoi, 0}, {"inv-", kInv, 0}, {"inv--1", kInv, 1},
      {"inv--", kInv, 0}, {"reg--1", kRegSR, 0}, {"reg--2", kUser, 2}, {"nand--3x", kUser, 0},
      {"bgate--2", kBgate, 0}, {"foo--7", kUser, 7}, {"reg---2", kUser, 0}, {"eor--2", kEor, 2},
      {"enor--02", kEnor, 2}, {"ts_buf--4", kTsBuf, 4}, {"high--0", kHigh, 0}, {"sub", kUser, 0},
      {"--5", kUser, 5}, {"and--65538", kAnd, 2}, {"eor--65538", kEor, 2},
      {"inv--65535", kInv, -1}, {"x--99999999999999999999", kUser, -1}, {"aoi--65747", kAoi, 211},
  };
  for (const Case& c : ok) {
    int16_t fan_in = 77;
    EXPECT_EQ(class_f(c.name, kCellTable, &fan_in), c.cls) << c.name;
    EXPECT_EQ(fan_in, c.fan_in) << c.name;
  }
  const char* stop[] = {"and--1", "eor--3", "aoi--23", "and--", "nor--0",
                        "oai--2",  "enor--",  "and--32768", "or--65536", "aoi--65536"};
  for (const char* name : stop) {
    int16_t fan_in = 0;
    try {
      class_f(name, kCellTable, &fan_in);
      ADD_FAILURE() << name << " accepted";
    } catch (const Fault& f) {
      EXPECT_EQ(f.message, "") << name;
    }
  }
  // Instances keep the number, also for user modules.
  Parsed p = parse("(def-module m (def-comp reg--2 r) (def-comp aoi--65747x z))\n");
  EXPECT_EQ(p.m->comps->fan_in, 0);
  EXPECT_EQ(p.m->comps->next->cls, kUser);
  EXPECT_EQ(p.m->comps->next->fan_in, 2);
  EXPECT_STREQ(p.m->comps->next->class_name, "reg--2");
  EXPECT_EQ(p.d->reg_exist, 0);
}

TEST(ReaderPinType, CellPins) {
  struct Case {
    const char* pin;
    int cls;
    int type;  // 0: the run stops
  };
  const Case cases[] = {
      {"in", kInv, 265}, {"nout", kInv, 268}, {"out", kInv, 0}, {"out", kNinv, 268},
      {"nout", kNinv, 0}, {"in", kNinv, 265}, {"a", kAnd, 265}, {"out", kAnd, 268},
      {"nout", kAnd, 265}, {"", kOr, 265}, {"out", kOr, 268}, {"out", kNand, 265},
      {"nout", kNand, 268}, {"nout", kNor, 268}, {"nout", kAoi, 268}, {"x", kOai, 265},
      {"in1", kEor, 265}, {"in2", kEor, 265}, {"out", kEor, 268}, {"in3", kEor, 0},
      {"nout", kEor, 0}, {"nout", kEnor, 268}, {"out", kEnor, 0}, {"in2", kEnor, 265},
      {"clk_enb", kReg1, 265}, {"set", kReg1, 0}, {"nout", kRegr1, 268}, {"p_reset", kRegs1, 265},
      {"scan_out", kRegSR, 0}, {"in", kRegSet, 0}, {"reset", kRegSet, 265}, {"out", kRegSet, 268},
      {"scan_out", kSregSR, 268}, {"scan_clock", kSreg1, 265}, {"scan_enb", kSrgr1, 265},
      {"set", kSrgs1, 0}, {"set", kSregSet, 265}, {"in", kSregSet, 0}, {"scan_out", kSregSet, 268},
      {"out", kHigh, 268}, {"nout", kHigh, 0}, {"nout", kLow, 268}, {"out", kLow, 0},
      {"out", kTsBuf, 271}, {"nenb", kTsBuf, 265}, {"in", kTsBuf, 265}, {"nout", kTsBuf, 0},
      {"enb", kBgate, 265}, {"clock", kBgate, 265}, {"nout", kBgate, 268}, {"out", kBgate, 0},
      {"anything", kUser, 425}, {"", kUser, 425}, {"in", kPin, 0}, {"in", 399, 0}, {"in", 426, 0},
      {"IN", kInv, 0},
  };
  for (const Case& c : cases) {
    if (c.type != 0) {
      EXPECT_EQ(pin_type_f(c.pin, c.cls), c.type) << c.pin << " on " << c.cls;
      continue;
    }
    try {
      pin_type_f(c.pin, c.cls);
      ADD_FAILURE() << c.pin << " on " << c.cls << " accepted";
    } catch (const Fault& f) {
      EXPECT_EQ(f.message, "");
    }
  }
}

}  // namespace
}  // namespace zelk
