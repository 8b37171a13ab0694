// Polarity flips and the absorption of inversions into exclusive-or cells.
#include "reduce/reduce.h"
#include "reduce/reduce_internal.h"

namespace zelk {

using namespace reduce_detail;

// ---------------------------------------------------------------- flips

void rev_instance(Instance* g, Book* b) {
  for_each_terminal(g, [b](Link* t) {
    if (flips_alone(t)) {
      negate_weight(t, b);
    } else if (t->net) {
      negate_net(t->net, b);
    }
  });
}

void rev_instance_all(Members comp, Book* b) {
  for (Instance* m : comp)
    if (is_gate(m->cls)) rev_instance(m, b);
}

void conn_comp_dual(Members comp) {
  for (Instance* m : comp)
    if (is_gate(m->cls)) toggle(m->dual);
}

// A terminal that drives or shares the bus without a polarity of its own (a
// bidirect pin, another cell's tristate terminal, an input pin driving it)
// would not follow an inversion of the bus.  Nor would a tristate pin of
// the top module, where the bus leaves the design for one outside: an
// inverter serving it would drive it while no buffer inside does, against
// whatever drives the bus outside.
bool reduce_detail::bus_can_flip(const Net* bus) {
  for (const Link* u = bus->links; u; u = u->next) {
    if (u->cut == 0 && u->weight == 0 && !is_ts_buf_output(u)) return false;
    if (u->inst->cls == kPin && is_tristate_type(u->pin_type) && u->inst->module->depth == 0) return false;
  }
  return true;
}

void rev_ts_bufs(Instance* t, Book* b) {
  Link* out = first_terminal_of_type(t, kwTristate);
  if (!out || !out->net) return;
  Net* bus = out->net;
  if (!bus_can_flip(bus)) return;
  for (Link* u = bus->links; u; u = u->next) {
    if (is_ts_buf_output(u)) {
      if (Link* in = data_input(u->inst)) negate_weight(in, b);
    } else {
      negate_weight(u, b);
    }
  }
}

// A gate input on a net that the set negates whole an odd number of times
// is negated twice, so keeps its weight; the other terminals of such a net
// are negated once, and the other inputs alone.  Changing each weight once
// rather than back and forth halves the changes that flipping a group
// hands to the book.  The inputs are listed, and marked on the terminal,
// while the set is walked once: the rest of the flip reads the list and
// the nets, not the gates again.  A group's gates lie anywhere in memory:
// each of the three walks asks for its records some steps ahead.
void Reducer::flip_gates(Members set) {
  if (!book_) {
    rev_instance_all(set, nullptr);
    return;
  }
  nets_.clear();
  flip_inputs_.clear();
  book_->new_mark();
  bool unnumbered = false;
  Instance* const* gates = set.begin();
  const std::size_t count = static_cast<std::size_t>(set.end() - set.begin());
  // The gate, then its terminals one after the other around the ring
  // (each asked for when the one before it is in), with their nets, then
  // the nets' entries in the book.
  auto terminal = [](const Instance* g, int k) -> const Link* {
    const Link* t = g->link;
    for (; t && k > 0; --k) t = t->inst_next == g->link ? nullptr : t->inst_next;
    return t;
  };
  for (std::size_t i = 0; i < count; ++i) {
    if (i + 16 < count) __builtin_prefetch(gates[i + 16]);
    if (i + 13 < count && gates[i + 13]->link) __builtin_prefetch(gates[i + 13]->link);
    for (int k = 0; k < 3; ++k) {
      const std::size_t at = i + 10 - 3 * static_cast<std::size_t>(k);
      if (at >= count) continue;
      if (const Link* t = terminal(gates[at], k)) {
        __builtin_prefetch(t->inst_next);
        if (t->net) __builtin_prefetch(t->net);
      }
    }
    if (i + 2 < count) {
      for_each_terminal(gates[i + 2], [this](const Link* t) {
        if (t->net && t->net->id > 0) book_->read_ahead(t->net->id);
      });
    }
    Instance* m = gates[i];
    if (!is_gate(m->cls)) continue;
    for_each_terminal(m, [&](Link* t) {
      Net* n = t->net;
      if (flips_alone(t)) {
        t->in_flip = 1;
        flip_inputs_.push_back({t, n ? n->id : 0});
      } else if (n && n->id <= 0) {
        unnumbered = true;  // not listed by the top module (none, in practice)
      } else if (n && book_->toggle_odd(n)) {
        nets_.push_back(n);
      }
    });
  }
  if (unnumbered) {
    for (const FlipInput& f : flip_inputs_) f.t->in_flip = 0;
    rev_instance_all(set, book_);
    return;
  }
  // An input marked here on a net negated whole keeps its mark until the
  // walk of that net passes it.
  const std::size_t inputs = flip_inputs_.size();
  for (std::size_t i = 0; i < inputs; ++i) {
    if (i + 16 < inputs) {
      const FlipInput& a = flip_inputs_[i + 16];
      __builtin_prefetch(a.t);
      if (a.net > 0) book_->read_ahead(a.net);
    }
    if (i + 8 < inputs) {
      const Link* a = flip_inputs_[i + 8].t;
      if (a->net) __builtin_prefetch(a->net);
      __builtin_prefetch(a->inst);
    }
    if (i + 4 < inputs) {
      const Net* a = flip_inputs_[i + 4].t->net;
      if (a && a->source) __builtin_prefetch(a->source);
    }
    const FlipInput& f = flip_inputs_[i];
    if (f.net > 0 && book_->odd(f.net)) continue;
    f.t->in_flip = 0;
    negate_weight(f.t, book_);
  }
  walk_nets_ahead(
      nets_.size(), [this](std::size_t i) { return nets_[i]; },
      [this](std::size_t, Net* n) {
        if (!book_->odd(n->id)) return;
        for (Link* u = n->links; u; u = u->next) {
          if (u->in_flip) u->in_flip = 0;
          else negate_weight(u, book_);
        }
      });
}

// ---------------------------------------------------------------- absorption

int count_wt_net_eor_enor_aside(const Net* n) {
  int sum = 0;
  for (const Link* u = n->links; u; u = u->next)
    if (!is_exor(u)) sum += u->weight;
  return sum;
}

void eor_enor_minus_wt_dual(Net* n, Book* b) {
  for (Link* u = n->links; u; u = u->next) {
    if (is_exor(u) && u->weight == -1) {
      set_weight(u, 1, b);
      toggle(u->inst->dual);
    }
  }
}

void eor_enor_plus_wt_dual(Net* n, Book* b) {
  for (Link* u = n->links; u; u = u->next) {
    if (is_exor(u) && u->weight == 1) {
      toggle(u->inst->dual);
    } else {
      negate_weight(u, b);
    }
  }
}

void eor_enor_and_or_nand_nor_net(const Design& d, Net* n, Book* b) {
  // With the book, a numbered net's tallies give the weight sum, and the
  // net is walked only when its driver takes the opposite polarity or an
  // exclusive-or input on it may want the inverted signal: a net of many
  // readers costs what changes on it.
  const bool tallied = b && n->id > 0;
  auto aside = [&] { return tallied ? b->weight_sum(n) : count_wt_net_eor_enor_aside(n); };
  auto absorb = [&] {
    if (tallied && !b->exor_unsettled(n)) return;  // no exclusive-or terminal is -1
    eor_enor_minus_wt_dual(n, b);
    if (tallied) b->exor_settled(n);
  };
  auto opposite = [&] {
    eor_enor_plus_wt_dual(n, b);
    if (tallied) b->exor_settled(n);
  };
  // A net without a driver can only have its exclusive-or inputs absorbed.
  Instance* s = n->source ? n->source->inst : nullptr;
  int cls = s ? s->cls : 0;
  if (s && is_and_or(cls)) {
    if (d.options.all && aside() < 0) {
      toggle(s->negate);
      opposite();
    } else {
      absorb();
    }
  } else if (s && is_exor(cls)) {
    if (aside() < 0) {
      toggle(s->dual);
      opposite();
    } else {
      absorb();
    }
  } else if (s && is_register(cls)) {
    // Complementary register outputs serve either polarity.
  } else {
    absorb();
  }
}

void eor_enor_and_or_nand_nor_instance(const Design& d, Instance* g, Book* b) {
  for_each_terminal(g, [&d, b](Link* t) {
    if (t->net) eor_enor_and_or_nand_nor_net(d, t->net, b);
  });
}

// The nets of a component lie anywhere in memory: each net, its driver
// and its tallies are asked for some nets ahead.
void Reducer::absorb_component(Instance* h) {
  const NetSpan span = nets_of(h);
  const auto count = static_cast<std::size_t>(span.end() - span.begin());
  walk_nets_ahead<NetReads::kDriver>(
      count, [&span](std::size_t j) { return span.begin()[j]; },
      [&](std::size_t j, Net* n) {
        if (book_ && j + 8 < count && span.begin()[j + 8]->id > 0)
          book_->read_ahead(span.begin()[j + 8]->id);
        eor_enor_and_or_nand_nor_net(d_, n, book_);
      });
}

// Absorption on one net changes only that net's weights (and marks of
// cells), and leaves the net where absorbing it again changes nothing.  So
// the pass over the component's nets in list order equals absorbing, in any
// order, just the nets whose weights changed since they were last absorbed:
// every other net is already where the pass would leave it.
void Reducer::eor_enor_and_or_nand_nor(Instance* h) {
  if (!fast()) {
    for (Net* n : nets_of(h)) eor_enor_and_or_nand_nor_net(d_, n);
    return;
  }
  std::vector<Net*> nets;
  nets.swap(book_->pending());
  // The nets of a move lie anywhere in memory: their records, tallies and
  // drivers are asked for some nets ahead.
  const std::size_t count = nets.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i + 16 < count) __builtin_prefetch(nets[i + 16]);
    if (i + 8 < count) {
      const Net* a = nets[i + 8];
      if (a->id > 0) book_->read_ahead(a->id);
      if (a->source) __builtin_prefetch(a->source);
    }
    if (i + 4 < count) {
      const Net* a = nets[i + 4];
      if (a->source) __builtin_prefetch(a->source->inst);
    }
    Net* n = nets[i];
    if (!book_->is_pending(n)) continue;
    const Instance* head = counts_in_whole(n) && n->source ? n->source->inst->comp : nullptr;
    if (head == h) {
      eor_enor_and_or_nand_nor_net(d_, n, book_);
      book_->settled(n);
    } else if (head && head->id > h->id) {
      book_->pending().push_back(n);  // driven from a component still to come
    } else {
      book_->settled(n);  // no whole pass reaches it any more
    }
  }
}

}  // namespace zelk
