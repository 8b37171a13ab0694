#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "rebuild/naming.h"

namespace zelk {
namespace {

// Small modules built by hand: components and pins are appended so that
// the lists hold them in the order they are added.
struct Builder {
  Design d;

  Module* module(const char* name, int16_t state = kStateOpen) {
    Module* m = d.new_module();
    m->name = d.strsave(name);
    m->state = state;
    return m;
  }
  std::map<Instance**, Instance**> tails;  // list head -> its last next field
  void append(Instance*& head, Instance* i) {
    Instance**& tail = tails[&head];
    if (!tail || *tail) {
      tail = &head;
      while (*tail) tail = &(*tail)->next;
    }
    *tail = i;
    tail = &i->next;
  }
  Instance* comp(Module* m, int16_t cls, const char* name = nullptr, int16_t fan_in = 0,
                 int16_t use = 1) {
    Instance* i = d.make<Instance>();
    i->cls = cls;
    i->fan_in = fan_in;
    i->use = use;
    i->name = name ? d.strsave(name) : nullptr;
    i->module = m;
    append(m->comps, i);
    return i;
  }
  Instance* user(Module* m, const char* cell, const char* name, Module* def) {
    Instance* i = comp(m, kUser, name);
    i->class_name = d.strsave(cell);
    i->def = def;
    return i;
  }
  Instance* pin(Module* m, const char* name, int16_t type, int16_t use = 1) {
    Instance* p = d.make<Instance>();
    p->cls = kPin;
    p->type = type;
    p->use = use;
    p->name = name ? d.strsave(name) : nullptr;
    p->module = m;
    Link* l = d.make<Link>();
    l->inst = p;
    l->pin_name = p->name;
    l->inst_next = l;
    p->link = l;
    append(m->pins, p);
    return p;
  }
  // A copy after the last module of the list, realised by instance `inst_name`.
  Module* copy(const char* name, const char* inst_name, int16_t state, int16_t use = 1) {
    Module* m = module(name, state);
    Module* last = d.top;
    while (last->next) last = last->next;
    last->next = m;
    m->parent = d.top;
    m->inst_name = d.strsave(inst_name);
    Instance* i = d.make<Instance>();
    i->cls = kUser;
    i->use = use;
    i->name = m->inst_name;
    i->def = m;
    i->class_name = d.strsave(name);
    m->inst = i;
    return m;
  }
  Module* top_module(const char* name = "top") {
    d.top = module(name);
    d.top->inst_name = d.top->name;
    return d.top;
  }
};

std::vector<std::string> names_of(const CompGroup* g) {
  std::vector<std::string> out;
  for (const Instance* i = g ? g->first : nullptr; i; i = i->next)
    out.push_back(i->name ? i->name : "<null>");
  return out;
}

using Names = std::vector<std::string>;

TEST(Naming, MakeNameForms) {
  Design d;
  EXPECT_STREQ(make_name(d, "adder", 2, NameForm::kModule), "adder-2");
  EXPECT_STREQ(make_name(d, "nand-", 3, NameForm::kGate), "nand-3");
  EXPECT_STREQ(make_name(d, "out", 12, NameForm::kPin), "out12");
  EXPECT_STREQ(make_name(d, "in", 10, NameForm::kPin), "in10");
  EXPECT_STREQ(make_name(d, "m", 9999999, NameForm::kModule), "m-9999999");
  EXPECT_STREQ(make_name(d, "x", 1000000, NameForm::kGate), "x1000000");
}

TEST(Naming, GroupsByKindAndNamesGates) {
  Builder b;
  Module* top = b.top_module();
  Module* ram = b.module("ram", kStateFixed);
  Module* adder1 = b.module("adder");
  Module* adder2 = b.module("adder");
  b.comp(top, kNand, "a", 2);
  b.comp(top, kNand, "b", 3);
  b.comp(top, kInv, "c");
  b.comp(top, kNand, "d", 2);
  b.comp(top, kInv, "e");
  b.comp(top, kInv, "dropped", 0, 0);  // use 0: written nowhere
  b.comp(top, kNand, "f", 2);
  b.comp(top, kReg1, "r");
  b.user(top, "ram", "x", ram);
  b.user(top, "adder", "u1", adder1);
  b.user(top, "ram", "y", ram);
  b.user(top, "adder", "u2", adder2);

  make_comp(b.d, top);
  // Groups in reverse order of each kind's first appearance; opened copies
  // never share a group, instances of one fixed module do.
  std::vector<Names> groups;
  for (CompGroup* g = top->comp_groups; g; g = g->next) groups.push_back(names_of(g));
  EXPECT_EQ(groups, (std::vector<Names>{{"u2"}, {"u1"}, {"y", "x"}, {"r"}, {"e", "c"},
                                        {"a", "d", "f"}}));
  CompGroup* nand = top->comp_groups->next->next->next->next->next;
  ASSERT_NE(nand->larger, nullptr);
  EXPECT_EQ(names_of(nand->larger), (Names{"b"}));
  EXPECT_EQ(nand->smaller, nullptr);

  inst_name(b.d, top);
  EXPECT_EQ(names_of(nand), (Names{"nand-1", "nand-2", "nand-3"}));
  EXPECT_EQ(names_of(nand->larger), (Names{"nand-4"}));
  // Inverters in reverse order of the components.
  EXPECT_EQ(names_of(top->comp_groups->next->next->next->next), (Names{"inv-1", "inv-2"}));
  // Registers and module instances keep their names.
  EXPECT_EQ(names_of(top->comp_groups->next->next->next), (Names{"r"}));
  EXPECT_EQ(names_of(top->comp_groups->next->next), (Names{"y", "x"}));
}

TEST(Naming, FanInTreeHasInsertionShape) {
  Builder b;
  Module* m = b.top_module();
  // Grouping reverses the list, so the tree is built in the order 3 5 2 4 6 2 5.
  for (int f : {5, 2, 6, 4, 2, 5, 3}) b.comp(m, kAoi, nullptr, static_cast<int16_t>(f));
  b.comp(m, kEor, nullptr, 0);
  b.comp(m, kEor, nullptr, 2);
  make_comp(b.d, m);
  CompGroup* eor = m->comp_groups;
  CompGroup* g3 = eor->next;
  ASSERT_NE(g3, nullptr);
  EXPECT_EQ(g3->first->fan_in, 3);
  ASSERT_TRUE(g3->smaller && g3->larger);
  EXPECT_EQ(g3->smaller->first->fan_in, 2);
  EXPECT_EQ(g3->larger->first->fan_in, 5);
  ASSERT_TRUE(g3->larger->smaller && g3->larger->larger);
  EXPECT_EQ(g3->larger->smaller->first->fan_in, 4);
  EXPECT_EQ(g3->larger->larger->first->fan_in, 6);
  inst_name(b.d, m);
  // Ascending fan-in, one counter across the whole tree.
  EXPECT_EQ(names_of(g3->smaller), (Names{"aoi-1", "aoi-2"}));
  EXPECT_EQ(names_of(g3), (Names{"aoi-3"}));
  EXPECT_EQ(names_of(g3->larger->smaller), (Names{"aoi-4"}));
  EXPECT_EQ(names_of(g3->larger), (Names{"aoi-5", "aoi-6"}));
  EXPECT_EQ(names_of(g3->larger->larger), (Names{"aoi-7"}));
  // Exclusive-or cells form one group whatever their fan-in.
  EXPECT_EQ(names_of(eor), (Names{"eor-1", "eor-2"}));
  EXPECT_EQ(eor->smaller, nullptr);
  EXPECT_EQ(eor->larger, nullptr);
}

TEST(Naming, DeepFanInChainIsNamedInOrder) {
  Builder b;
  Module* m = b.top_module();
  const int n = 30000;  // distinct rising fan-ins: a chain of that depth
  std::vector<Instance*> gates;
  for (int f = 2; f < n + 2; ++f) gates.push_back(b.comp(m, kOr, nullptr, static_cast<int16_t>(f)));
  make_comp(b.d, m);
  inst_name(b.d, m);
  EXPECT_STREQ(gates.front()->name, "or-1");
  EXPECT_STREQ(gates.back()->name, ("or-" + std::to_string(n)).c_str());
}

TEST(Naming, GateNamesSkipWrittenPinsModuleInstancesAndKeptNames) {
  Builder b;
  Module* top = b.top_module();
  Module* m = b.copy("sub", "s", kStateOpen);
  Module* ram = b.copy("ram", "and-1", kStateFixed);
  m->inst->use = 1;
  b.pin(m, "and-2", kwInput, 1);   // written pin
  b.pin(m, "and-4", kwInput, 0);   // not written: does not block
  b.pin(m, "and-6", kwOutput, 2);  // open boundary pin: written
  b.user(m, "ram", "and-1", ram);
  b.comp(m, kReg1, "and-3");  // keeps its name; no gate takes it
  Instance* g1 = b.comp(m, kAnd, nullptr, 2);
  Instance* g2 = b.comp(m, kAnd, nullptr, 2);
  Instance* g3 = b.comp(m, kAnd, nullptr, 2);
  make_comp(b.d, m);
  inst_name(b.d, m);
  EXPECT_STREQ(g1->name, "and-4");
  EXPECT_STREQ(g2->name, "and-5");
  EXPECT_STREQ(g3->name, "and-7");

  // The top module writes every pin, used or not.
  b.pin(top, "inv-1", kwInput, 0);
  Instance* i1 = b.comp(top, kInv);
  make_comp(b.d, top);
  inst_name(b.d, top);
  EXPECT_STREQ(i1->name, "inv-2");
}

TEST(Naming, NewPinsAndOutsideTerminals) {
  Builder b;
  Module* top = b.top_module();
  Module* m = b.copy("sub", "s", kStateOpen);
  Module* ram = b.copy("ram", "in3", kStateFixed);
  Instance* p1 = b.pin(m, nullptr, kwInput);
  Instance* p2 = b.pin(m, nullptr, kwOutput);
  b.pin(m, "in1", kwInput, 1);      // written: blocks
  b.pin(m, "out1", kwOutput, 0);    // not written: does not block
  Instance* p3 = b.pin(m, nullptr, kwInputConnected);
  Instance* p4 = b.pin(m, nullptr, kwTristate);
  Instance* p5 = b.pin(m, nullptr, kwBidirect);
  Instance* p6 = b.pin(m, nullptr, kwInput);
  Instance* p7 = b.pin(m, nullptr, kwGlobal);  // no series: stays unnamed
  b.user(m, "ram", "in3", ram);
  b.comp(m, kTsBuf, "out2");
  make_comp(b.d, m);
  pin_name(b.d, m);
  EXPECT_STREQ(p1->name, "in2");
  EXPECT_STREQ(p2->name, "out1");
  EXPECT_STREQ(p3->name, "in4");
  EXPECT_STREQ(p4->name, "out3");
  EXPECT_STREQ(p5->name, "out4");
  EXPECT_STREQ(p6->name, "in5");
  EXPECT_EQ(p7->name, nullptr);
  EXPECT_EQ(p1->link->pin_name, p1->name);

  // The parent's terminals on the copy's instance take the inner names;
  // terminals on a fixed module's instance and on control nets do not.
  Instance* s = b.user(top, "sub", "s", m);
  Instance* r = b.user(top, "ram", "in3", ram);
  auto net = [&](int16_t type) {
    Net* n = b.d.make<Net>();
    n->type = type;
    module_push_net_front(top, n);
    return n;
  };
  auto term = [&](Net* n, Instance* i, const char* pin, Link* partner) {
    Link* l = b.d.make<Link>();
    l->inst = i;
    l->pin_name = b.d.strsave(pin);
    l->partner = partner;
    net_push_back(n, l);
    return l;
  };
  Net* sig = net(kNetSignal);
  Net* ts = net(kNetTristate);
  Net* ctl = net(kNetControl);
  Link* t1 = term(sig, s, "x", p1->link);
  Link* t2 = term(sig, r, "y", p2->link);
  Link* t3 = term(ts, s, "z", p4->link);
  Link* t4 = term(ctl, s, "w", p6->link);
  Link* t5 = term(sig, s, "v", nullptr);
  other_pin_name(b.d, top);
  EXPECT_STREQ(t1->pin_name, "in2");
  EXPECT_STREQ(t2->pin_name, "y");
  EXPECT_STREQ(t3->pin_name, "out3");
  EXPECT_STREQ(t4->pin_name, "w");
  EXPECT_STREQ(t5->pin_name, "v");
}

TEST(Naming, ModuleCopiesNumberedInListOrder) {
  {
    Builder b;
    b.top_module();
    Module* a1 = b.copy("adder", "u1", kStateOpen);
    Module* a2 = b.copy("adder", "u2", kStateOpen);
    Module* unused = b.copy("adder", "u3", kStateOpen, 0);
    Module* a4 = b.copy("adder", "u4", kStateOpen);
    class_name(b.d);
    EXPECT_STREQ(a1->name, "adder-1");
    EXPECT_STREQ(a2->name, "adder-2");
    EXPECT_STREQ(unused->name, "adder");  // not in use: keeps its name
    EXPECT_STREQ(a4->name, "adder-3");
  }
  {
    // A fixed module named adder-1 (standing after the copies) is skipped.
    Builder b;
    b.top_module();
    Module* a1 = b.copy("adder", "u1", kStateOpen);
    Module* a2 = b.copy("adder", "u2", kStateOpen);
    b.copy("adder-1", "f", kStateFixed);
    class_name(b.d);
    EXPECT_STREQ(a1->name, "adder-2");
    EXPECT_STREQ(a2->name, "adder-3");
  }
  {
    // So is an instance named adder-1 anywhere in the design.
    Builder b;
    b.top_module();
    Module* a1 = b.copy("adder", "u1", kStateOpen);
    b.copy("ram", "adder-1", kStateFixed);
    Module* a2 = b.copy("adder", "u2", kStateOpen);
    class_name(b.d);
    EXPECT_STREQ(a1->name, "adder-2");
    EXPECT_STREQ(a2->name, "adder-3");
  }
  {
    // A later opened copy's old name does not block; a copy's own instance
    // name does not block its own name.
    Builder b;
    b.top_module();
    Module* a1 = b.copy("adder", "u1", kStateOpen);
    Module* other = b.copy("adder-1", "u2", kStateOpen);
    Module* self = b.copy("mul", "mul-1", kStateOpen);
    class_name(b.d);
    EXPECT_STREQ(a1->name, "adder-1");
    EXPECT_STREQ(other->name, "adder-1-1");
    EXPECT_STREQ(self->name, "mul-1");
  }
  {
    // A register of the copy itself blocks only that copy.
    Builder b;
    b.top_module();
    Module* a1 = b.copy("adder", "u1", kStateOpen);
    b.comp(a1, kReg1, "adder-1");
    Module* a2 = b.copy("adder", "u2", kStateOpen);
    Module* a3 = b.copy("adder", "u3", kStateOpen);
    class_name(b.d);
    EXPECT_STREQ(a1->name, "adder-2");
    EXPECT_STREQ(a2->name, "adder-1");
    EXPECT_STREQ(a3->name, "adder-3");
  }
  {
    // Instance names of later copies block earlier copies, not themselves.
    Builder b;
    b.top_module();
    Module* a = b.copy("adder", "adder-2", kStateOpen);
    Module* c = b.copy("adder", "adder-1", kStateOpen);
    Module* e = b.copy("adder", "x", kStateOpen);
    class_name(b.d);
    EXPECT_STREQ(a->name, "adder-2");
    EXPECT_STREQ(c->name, "adder-1");
    EXPECT_STREQ(e->name, "adder-3");
  }
}

TEST(Naming, ManyCopiesOfOneModule) {
  Builder b;
  b.top_module();
  const int n = 100000;
  std::vector<Module*> copies;
  for (int i = 0; i < n; ++i) {
    Module* m = b.d.new_module();
    m->name = "cell";
    m->state = kStateOpen;
    copies.push_back(m);
  }
  // Instance names in falling series order: each copy is blocked by all
  // later copies' instance names and so takes its own.
  const int named = 3000;
  Module* last = b.d.top;
  for (int i = 0; i < n; ++i) {
    Module* m = copies[i];
    Instance* inst = b.d.make<Instance>();
    inst->cls = kUser;
    inst->use = 1;
    std::string iname = i < named ? "cell-" : "u";
    iname += std::to_string(i < named ? named - i : i);
    inst->name = b.d.strsave(iname.c_str());
    m->inst = inst;
    m->inst_name = inst->name;
    m->parent = b.d.top;
    last->next = m;
    last = m;
  }
  class_name(b.d);
  EXPECT_STREQ(copies[0]->name, "cell-3000");
  EXPECT_STREQ(copies[named - 1]->name, "cell-1");
  EXPECT_STREQ(copies[named]->name, "cell-3001");
  EXPECT_STREQ(copies[n - 1]->name, ("cell-" + std::to_string(n)).c_str());
}

}  // namespace
}  // namespace zelk
