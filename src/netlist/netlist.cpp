#include "netlist/netlist.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <new>
#include <system_error>

#include "netlist/threads.h"

namespace zelk {

void fail() { throw Fault{}; }
void fail(std::string message) { throw Fault{std::move(message), {}}; }
void fail_quietly(std::string why) { throw Fault{{}, std::move(why)}; }

// ---------------------------------------------------------------- arena

namespace {
// Blocks grow from 1 MiB to 64 MiB, so that small designs stay small and
// large ones take few blocks.
constexpr std::size_t kFirstBlock = std::size_t{1} << 20;
constexpr std::size_t kLargestBlock = std::size_t{64} << 20;

// An arena that has grown past kPrefaultFrom asks the system for its next
// pages kPrefault at a time, ahead of the records that will fill them: one
// call then stands for 512 first touches, each a trap that costs the most on
// a virtual machine.  A small arena (a table of a small module) is left to
// its first touches, and so is a record of that size or more, which may be
// a table only partly used.  From 2 MiB rather than 8: the mid-sized
// circuits (10^4 to 10^5 cells) then take most of their first touches on the
// pages thread too, about 5 % of their run (hyp with -a 0.98 -> 0.94 s,
// div 0.099 -> 0.095 s, medians in turn), for a megabyte or two of peak.
constexpr std::size_t kPrefaultFrom = std::size_t{2} << 20;
constexpr std::size_t kPrefault = std::size_t{2} << 20;
constexpr std::uintptr_t kPage = 4096;  // a system of larger pages refuses the hint: no harm

// Fresh anonymous pages are zero, as every new record must be.  A block of
// kLargePagesFrom or more (an arena grown large) takes large pages: asked for
// ahead on the pages thread, one stands for 512 first touches, and the
// walks that read the records in any order (the reduction's, the
// rebuild's) miss the address translation far less.  Flat 10^7 cells ran
// in 26.1 s instead of 29.1 s; a hierarchy of 10^6 cells, whose copies
// fill the arenas fast, read in 0.2-0.3 s instead of 0.65-0.7 s.
char* map_block(std::size_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  if (size >= kLargePagesFrom) ask_large_pages(p, size);
  return static_cast<char*>(p);
}

// Pages are asked for up to this far past the chunk being filled, so that
// the thread keeps ahead of the records; less in a smaller arena, whose
// pages asked for and never used would weigh more.
constexpr std::size_t kAhead = std::size_t{4} << 20;

// Reads one byte of the page at p.  On the virtual machines we measure on,
// a page that the system has filled in still traps at its first touch from
// this process (about 5 microseconds, the cost of the first store into 64
// records of a page); touching it on the pages thread takes that trap
// there.  In assembly: the thread that fills the page may be there
// already, and this read is no access to its records.
void touch_page(const char* p) {
#if defined(__x86_64__)
  unsigned char v;
  asm volatile("movb (%1), %0" : "=q"(v) : "r"(p));
#elif defined(__aarch64__)
  unsigned v;
  asm volatile("ldrb %w0, [%1]" : "=r"(v) : "r"(p));
#else
  (void)p;
#endif
}

bool ask_pages(char* from, char* to, bool touch) {
#ifdef MADV_POPULATE_WRITE
  if (::madvise(from, static_cast<std::size_t>(to - from), MADV_POPULATE_WRITE) != 0) return false;
  if (touch)
    for (const char* p = from; p < to; p += kPage) touch_page(p);
  return true;
#else
  (void)from;
  (void)to;
  (void)touch;
  return false;
#endif
}
}  // namespace

void ask_large_pages(void* from, std::size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  const auto at = reinterpret_cast<std::uintptr_t>(from);
  const auto first = (at + kLarge - 1) & ~(kLarge - 1);
  const auto end = (at + size) & ~(kLarge - 1);
  if (end > first) ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)from;
  (void)size;
#endif
}

bool PageAhead::ask(char* from, char* to, bool touch) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (refused_ || stopping_) return false;
  // In addresses: a range within one page has no whole page.
  const auto first = (reinterpret_cast<std::uintptr_t>(from) + kPage - 1) & ~(kPage - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(to) & ~(kPage - 1);
  if (end <= first) return true;
  from = reinterpret_cast<char*>(first);
  to = reinterpret_cast<char*>(end);
  if (!started_) {
    started_ = true;
    try {
      thread_ = start_thread([this] { work(); });
    } catch (const std::system_error&) {
    }
  }
  if (!thread_.joinable()) {
    if (!ask_pages(from, to, true)) refused_ = true;  // the caller's memory, now
    return !refused_;
  }
  ranges_.push_back(Range{from, to, touch});
  lock.unlock();
  wake_.notify_one();
  return true;
}

void PageAhead::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    ranges_.clear();
  }
  wake_.notify_one();
  done_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PageAhead::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !ranges_.empty(); });
    if (stopping_) return;
    const Range r = ranges_.front();
    ranges_.pop_front();
    busy_ = true;
    lock.unlock();
    const bool ok = ask_pages(r.from, r.to, r.touch);
    lock.lock();
    busy_ = false;
    if (!ok) {
      refused_ = true;
      ranges_.clear();
    }
    if (ranges_.empty()) done_.notify_all();
  }
}

void PageAhead::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return ranges_.empty() && !busy_; });
}

Arena::~Arena() {
  if (ahead_) ahead_->stop();  // no page of a block is asked for once it goes
  for (auto& [block, size] : blocks_) ::munmap(block, size);
}

void* Arena::allocate(std::size_t size, std::size_t align) {
  std::size_t pad = reinterpret_cast<std::uintptr_t>(cur_) & (align - 1);
  if (pad) pad = align - pad;
  if (cur_ == nullptr || pad + size > left_) {
    std::size_t grow = blocks_.empty() ? kFirstBlock : std::min(blocks_.back().second * 2, kLargestBlock);
    std::size_t want = size + align > grow ? size + align : grow;
    char* block = map_block(want);
    blocks_.emplace_back(block, want);
    cur_ = block;
    left_ = want;
    ready_ = block;
    asked_ = block;
    pad = reinterpret_cast<std::uintptr_t>(cur_) & (align - 1);
    if (pad) pad = align - pad;
  }
  char* p = cur_ + pad;
  cur_ = p + size;
  left_ -= pad + size;
  used_ += size;
  if (cur_ > ready_) prefault(size);
  return p;
}

void Arena::prefault(std::size_t size) {
  auto up = [](char* at, std::uintptr_t step) {
    auto a = reinterpret_cast<std::uintptr_t>(at);
    return reinterpret_cast<char*>((a + step - 1) & ~(step - 1));
  };
  char* const end = cur_ + left_;
  if (!prefault_ || used_ < kPrefaultFrom || size >= kPrefault) {
    ready_ = std::min(end, up(cur_, kPage));
    return;
  }
  char* to = std::min(end, up(cur_, kPrefault));
  // Only a hint: a system without the call, or short of memory now, leaves
  // the pages to their first touch.
  if (ahead_) {
    const std::size_t ahead = std::min(kAhead, used_ / 16 & ~(kPage - 1));
    char* const want = std::min(end, to + ahead);
    if (want > asked_) {
      if (!ahead_->ask(std::max(asked_, ready_), want, true)) prefault_ = false;
      asked_ = want;
    }
  } else if (!ask_pages(ready_, to, true)) {
    prefault_ = false;
  }
  ready_ = to;
}

const char* Arena::strsave(const char* text, std::size_t length) {
  char* p = static_cast<char*>(allocate(length + 1, 1));
  std::memcpy(p, text, length);
  p[length] = '\0';
  return p;
}

const char* Arena::strsave(const char* text) { return strsave(text, std::strlen(text)); }

// ---------------------------------------------------------------- design

void Design::say(const char* text) const {
  std::fputs(text, log);
  std::fflush(log);
}

void Design::sayf(const char* format, ...) const {
  va_list ap;
  va_start(ap, format);
  std::vfprintf(log, format, ap);
  va_end(ap);
  std::fflush(log);
}

// ---------------------------------------------------------------- net lists

void net_push_front(Net* n, Link* l) {
  l->net = n;
  l->prev = nullptr;
  l->next = n->links;
  if (n->links) n->links->prev = l;
  else n->tail = l;
  n->links = l;
}

void net_push_back(Net* n, Link* l) {
  l->net = n;
  l->next = nullptr;
  l->prev = n->tail;
  if (n->tail) n->tail->next = l;
  else n->links = l;
  n->tail = l;
}

bool net_contains(const Link* l) {
  return l->net != nullptr && (l->prev != nullptr || l->net->links == l);
}

void delete_node(Link* l) {
  Net* n = l->net;
  if (n == nullptr || !net_contains(l)) fail();
  if (l->prev) l->prev->next = l->next;
  else n->links = l->next;
  if (l->next) l->next->prev = l->prev;
  else n->tail = l->prev;
  l->prev = nullptr;
}

void net_append_all(Net* to, Net* from) {
  Link* first = from->links;
  if (first == nullptr) return;
  for (Link* t = first; t; t = t->next) t->net = to;
  if (to->tail) {
    to->tail->next = first;
    first->prev = to->tail;
  } else {
    to->links = first;
    first->prev = nullptr;
  }
  to->tail = from->tail;
  from->links = nullptr;
  from->tail = nullptr;
}

Link* net_detach(Net* n) {
  Link* head = n->links;
  n->links = nullptr;
  n->tail = nullptr;
  return head;
}

void net_relink(Net* n) {
  Link* prev = nullptr;
  for (Link* t = n->links; t; t = t->next) {
    t->prev = prev;
    prev = t;
  }
  n->tail = prev;
}

void module_push_net_front(Module* m, Net* n) {
  n->owner = m->id;
  n->prev = nullptr;
  n->next = m->nets;
  if (m->nets) m->nets->prev = n;
  m->nets = n;
}

void module_insert_net_after(Module* m, Net* after, Net* n) {
  if (after == nullptr) {
    module_push_net_front(m, n);
    return;
  }
  n->owner = m->id;
  n->prev = after;
  n->next = after->next;
  if (after->next) after->next->prev = n;
  after->next = n;
}

void delete_net(Net* n, Module* m) {
  if (!module_has_net(m, n)) fail();
  if (n->prev) n->prev->next = n->next;
  else m->nets = n->next;
  if (n->next) n->next->prev = n->prev;
  n->prev = nullptr;
  n->owner = 0;
}

void module_relink_nets(Module* m) {
  Net* prev = nullptr;
  for (Net* n = m->nets; n; n = n->next) {
    n->prev = prev;
    n->owner = m->id;
    prev = n;
  }
}

Net* module_last_net(const Module* m) {
  Net* last = m->nets;
  if (last)
    while (last->next) last = last->next;
  return last;
}

bool check_lists(const Module* m) {
  Net* prevn = nullptr;
  for (Net* n = m->nets; n; n = n->next) {
    if (n->prev != prevn || n->owner != m->id) return false;
    Link* prevl = nullptr;
    for (Link* l = n->links; l; l = l->next) {
      if (l->prev != prevl || l->net != n) return false;
      prevl = l;
    }
    if (n->tail != prevl) return false;
    prevn = n;
  }
  return true;
}

// ---------------------------------------------------------------- helpers

Instance* pin_f(const char* name, const Module* m) {
  for (Instance* p = m->pins; p; p = p->next)
    if (p->name && std::strcmp(p->name, name) == 0) return p;
  return nullptr;
}

Instance* instance_f(const char* name, const Module* m) {
  for (Instance* c = m->comps; c; c = c->next)
    if (c->name && std::strcmp(c->name, name) == 0) return c;
  return nullptr;
}

std::string f_name(const std::string& name, const std::string& dir, const char* ext) {
  std::string path;
  path.reserve(dir.size() + name.size() + std::strlen(ext) + 2);
  path += dir;
  path += '/';
  path += name;
  path += '.';
  path += ext;
  return path;
}

}  // namespace zelk
