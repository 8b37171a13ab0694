// The boundary index against the list walks it replaces.  What flattening
// makes of a design, and its faults, are in the golden cases.
#include <gtest/gtest.h>

#include <string>

#include "flat/flat.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::find_pin;
using test::load_text;

TEST(Flat, IndexAnswersLikeTheWalk) {
  // Twelve pins make the look-ups leave the short walks for the maps.
  std::string sub = "(def-module wide";
  std::string inner, outer = "(def-module top (def-pin a type input) (def-comp wide u1 u2)";
  for (int i = 0; i < 12; ++i) {
    std::string p = "p" + std::to_string(i);
    sub += " (def-pin " + p + " type input)";
    inner += " (def-net " + p + " g" + std::to_string(i) + ".a)";
    outer += " (def-net a u1." + p + " u2." + p + ")";
  }
  sub += " (def-comp and--2";
  for (int i = 0; i < 12; ++i) sub += " g" + std::to_string(i);
  sub += ")" + inner + ")\n";
  outer += " (def-net a u1.p3))\n";  // u1 meets p3 twice
  auto r = load_text({{"top.nld", outer}, {"wide.nld", sub}}, "top");
  Design& d = *r.design;
  FlatIndex ix;
  int checked = 0;
  for (Module* m = d.top; m; m = m->next)
    for (Net* n = m->nets; n; n = n->next)
      for (Link* t = n->links; t; t = t->next) {
        if (t->inst->cls != kPin && t->inst->cls != kUser) continue;
        EXPECT_EQ(ix.find_node(t), find_node(d, t));
        ++checked;
      }
  EXPECT_GT(checked, 40);
  Module* u2 = nullptr;
  for (Module* m = d.top; m; m = m->next)
    if (same(m->inst_name, "u2")) u2 = m;
  ASSERT_NE(u2, nullptr);
  Link* p3 = find_pin(u2, "p3")->link;
  ASSERT_NE(ix.find_node(p3), nullptr);
  EXPECT_EQ(ix.find_node(p3)->inst->name, u2->inst_name);
  EXPECT_EQ(ix.pin(u2, "p11"), find_pin(u2, "p11"));
  EXPECT_EQ(ix.pin(u2, "nope"), nullptr);
}

}  // namespace
}  // namespace zelk
