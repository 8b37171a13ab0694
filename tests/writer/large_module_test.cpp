// A module of many nets has its net lines made by threads beside the lines
// before them: the file must still arrive whole and in order, and a failed
// write must still leave nothing behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "../../bench/gen/generator.h"
#include "flat/flat.h"
#include "loader/loader.h"
#include "rebuild/rebuild.h"
#include "reduce/reduce.h"
#include "support/fixture.h"
#include "support/sim.h"
#include "writer/output_set.h"
#include "writer/writer.h"

namespace zelk {
namespace {

// Reduces the generated design and writes it flat into `out` through a set
// that fails as `failure` says; returns the fault ("none"), counts the top
// module's nets and gives their lines as the file must hold them, in list
// order.
std::string write_flat(const zelkgen::Summary& g, const std::string& out, WriteFailure failure,
                       int& nets, std::string* net_lines = nullptr) {
  Design d;
  d.options.top_name = g.top;
  d.options.opt_dir = {g.dir};
  d.options.read_dir = {g.ro_dir};
  d.options.write_dir = out;
  d.options.has_write_dir = true;
  d.options.form = OutputForm::kFlat;
  d.log = std::tmpfile();
  read_module(d, g.top);
  flat(d);
  red_inv(d);
  output(d);
  hierarchy(d);
  nets = 0;
  for (const Net* n = d.top->nets; n; n = n->next) {
    ++nets;
    if (!net_lines) continue;
    *net_lines += "\t(def-net";
    for (const Link* t = n->links; t; t = t->next)
      *net_lines += "\t" + (t->inst->cls == kPin ? "" : std::string(t->inst->name) + ".") + t->pin_name;
    *net_lines += ")\n";
  }
  std::string fault = "none";
  try {
    OutputSet out_set(std::size_t{1} << 16, failure);
    print_nld(d, out_set);
    out_set.commit();
  } catch (const Fault& f) {
    fault = f.message;
  }
  std::fclose(d.log);
  return fault;
}

std::size_t count_of(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(WriterLargeModule, NetLinesArriveWholeAndInOrder) {
  test::TempDir tmp;
  zelkgen::Options opt;
  opt.cells = 50000;
  opt.seed = 3;
  opt.dir = tmp.mkdir("in");
  const zelkgen::Summary g = zelkgen::generate(opt);
  int nets = 0;
  std::string net_lines;
  const std::string out = tmp.mkdir("out");
  ASSERT_EQ(write_flat(g, out, {}, nets, &net_lines), "none");
  ASSERT_GE(nets, 1 << 15);  // enough for the threads, several pieces each
  const std::string text = test::read_file(out + "/" + g.top + ".nld");
  EXPECT_EQ(count_of(text, "\t(def-net\t"), static_cast<std::size_t>(nets));
  ASSERT_GT(text.size(), net_lines.size() + 2);
  EXPECT_TRUE(text.compare(text.size() - net_lines.size() - 2, net_lines.size(), net_lines) == 0);
  EXPECT_EQ(text.substr(text.size() - 4), ")\n)\n");
  EXPECT_EQ(test::check_equivalent(g.top, {g.dir, g.ro_dir}, g.top, {out, g.ro_dir}), "");

  // A write that fails deep in the net lines, while the thread still
  // makes them.
  const std::string failed = tmp.mkdir("failed");
  EXPECT_EQ(write_flat(g, failed, {WriteFailure::kWrite, 0, text.size() / 2}, nets),
            "Could not write " + failed + "/" + g.top + ".nld\n");
  EXPECT_TRUE(test::list_dir(failed).empty());
}

}  // namespace
}  // namespace zelk
