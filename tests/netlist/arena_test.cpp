// The arena hands out records that are zero and aligned as asked, whether
// their pages come from a first touch or were asked for ahead, and keeps
// them in place until it goes.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "netlist/netlist.h"

namespace zelk {
namespace {

bool all_zero(const unsigned char* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

// Fills an arena with small records well past the size where pages are
// asked for ahead, with large ones (a table) between them, and checks them.
void fill_and_check(Arena& arena) {
  struct Record {
    unsigned char bytes[40];
  };
  std::vector<Record*> records;
  std::size_t expected = 0;
  for (int i = 0; i < 600000; ++i) {
    std::size_t size = sizeof(Record);
    std::size_t align = i % 3 == 0 ? 64 : alignof(Record);
    if (i % 100000 == 50000) size = std::size_t{3} << 20;
    auto* r = static_cast<Record*>(arena.allocate(size, align));
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(r) % align, 0u) << i;
    ASSERT_TRUE(all_zero(r->bytes, sizeof r->bytes)) << i;
    if (size > sizeof(Record)) {
      const auto* p = reinterpret_cast<const unsigned char*>(r);
      ASSERT_TRUE(all_zero(p, size)) << i;
    }
    std::memset(r->bytes, i % 251 + 1, sizeof r->bytes);
    records.push_back(r);
    expected += size;
  }
  EXPECT_EQ(arena.bytes_used(), expected);
  for (std::size_t i = 0; i < records.size(); ++i)
    ASSERT_EQ(records[i]->bytes[39], static_cast<unsigned char>(i % 251 + 1)) << i;
  // A record larger than any block gets a block of its own.
  const std::size_t huge = std::size_t{100} << 20;
  auto* big = static_cast<unsigned char*>(arena.allocate(huge, 8));
  EXPECT_TRUE(big[0] == 0 && big[huge / 2] == 0 && big[huge - 1] == 0);
  EXPECT_STREQ(arena.strsave("after"), "after");
}

TEST(Arena, RecordsStayZeroAlignedAndInPlace) {
  Arena arena;
  fill_and_check(arena);
}

// Pages asked for on a thread, for two arenas at once; the first to go
// stops the asking for both.
TEST(Arena, PagesAskedForAheadByAThread) {
  PageAhead ahead;
  Arena a(&ahead);
  {
    Arena b(&ahead);
    fill_and_check(a);
    fill_and_check(b);
  }
  EXPECT_STREQ(a.strsave("still"), "still");
  EXPECT_FALSE(ahead.ask(nullptr, nullptr));
}

// A table asked for ahead keeps the room it was given, and once the
// asking is waited for its whole pages are present: the pages thread is
// done with them before the table may go back to the system.
TEST(PageAhead, TableAskedForAheadIsPresentOnceWaitedFor) {
#ifdef MADV_POPULATE_WRITE
  {
    const std::size_t probe_size = std::size_t{1} << 16;
    void* probe = ::mmap(nullptr, probe_size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(probe, MAP_FAILED);
    const bool asked = ::madvise(probe, probe_size, MADV_POPULATE_WRITE) == 0;
    ::munmap(probe, probe_size);
    if (!asked) GTEST_SKIP() << "this system refuses to hand out pages ahead";
  }
#else
  GTEST_SKIP() << "this system cannot hand out pages ahead";
#endif
  PageAhead ahead;
  std::vector<uint64_t> table;
  constexpr std::size_t kCount = std::size_t{3} << 20;  // 24 MB
  room_ahead(ahead, table, kCount);
  const uint64_t* at = table.data();
  ahead.wait();
  const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto first = (reinterpret_cast<std::uintptr_t>(at) + page - 1) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(at + kCount) & ~(page - 1);
  std::vector<unsigned char> resident((end - first) / page);
  ASSERT_EQ(::mincore(reinterpret_cast<void*>(first), end - first, resident.data()), 0);
  std::size_t absent = 0;
  for (unsigned char r : resident) absent += (r & 1) == 0;
  EXPECT_EQ(absent, 0u);
  table.assign(kCount, 7);
  EXPECT_EQ(table.data(), at);
  EXPECT_EQ(table[kCount - 1], 7u);
}

}  // namespace
}  // namespace zelk
