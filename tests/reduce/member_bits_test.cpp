// The search for marked members: the previous set bit of a range, across
// word boundaries, against a plain walk.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "reduce/reduce_internal.h"

namespace zelk {
namespace {

using reduce_detail::MemberBits;

uint32_t walk(const std::vector<bool>& on, uint32_t x, uint32_t first) {
  for (uint32_t i = x; i-- > first;)
    if (on[i]) return i;
  return MemberBits::kNone;
}

TEST(MemberBits, PreviousMarkMatchesAWalkOverEveryRange) {
  std::mt19937 rng(7);
  for (const std::size_t n : {1u, 63u, 64u, 65u, 200u, 1000u}) {
    for (const int density : {0, 1, 10, 50, 100}) {
      MemberBits bits;
      bits.size(n);
      std::vector<bool> on(n, false);
      for (uint32_t i = 0; i < n; ++i)
        if (static_cast<int>(rng() % 100) < density) {
          bits.set(i);
          on[i] = true;
        }
      // Some marks taken back again.
      for (uint32_t i = 0; i < n; i += 3)
        if (on[i] && rng() % 2) {
          bits.clear(i);
          on[i] = false;
        }
      for (uint32_t first = 0; first <= n; first += (first < 130 ? 1 : 37))
        for (uint32_t x = first; x <= n; x += (x < 140 ? 1 : 41))
          ASSERT_EQ(bits.prev(x, first), walk(on, x, first)) << "n=" << n << " first=" << first << " x=" << x;
    }
  }
}

// The walk of the heads, from the end of a range down, visits the marks in
// order and each once, even when a mark ahead is cleared during the walk.
TEST(MemberBits, WalkDownVisitsEveryMarkOnce) {
  MemberBits bits;
  bits.size(300);
  const std::vector<uint32_t> marks = {5, 63, 64, 65, 127, 128, 200, 299};
  for (uint32_t m : marks) bits.set(m);
  std::vector<uint32_t> seen;
  for (uint32_t x = bits.prev(300, 60); x != MemberBits::kNone; x = bits.prev(x, 60)) {
    seen.push_back(x);
    bits.clear(x);
  }
  EXPECT_EQ(seen, (std::vector<uint32_t>{299, 200, 128, 127, 65, 64, 63}));
  EXPECT_EQ(bits.prev(300, 0), 5u);
}

}  // namespace
}  // namespace zelk
