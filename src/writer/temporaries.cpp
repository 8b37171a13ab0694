#include "writer/temporaries.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "netlist/threads.h"

namespace zelk {

namespace {

// The handler reads the list while the run may be changing it, so that it
// reads nothing but atomic pointers to paths that are whole: places come in
// chunks that are never freed (a run lists one temporary per file it
// writes, up to one per module copy), a path is made before its place
// points at it, and freed only after the place is cleared.
constexpr int kChunk = 1024;
struct Chunk {
  std::atomic<char*> path[kChunk] = {};
  Chunk* next = nullptr;  // the chunk made before; set before this one is published
};
std::atomic<Chunk*> newest{nullptr};

// The run's side, under a lock of its own (never taken by the handler).
std::mutex lock;
std::vector<Chunk*> chunks;  // by number
std::vector<int> free_places;

extern "C" void on_ending_signal(int sig) {
  const int saved = errno;
  for (Chunk* c = newest.load(std::memory_order_acquire); c; c = c->next)
    for (std::atomic<char*>& p : c->path)
      if (const char* path = p.load(std::memory_order_acquire)) ::unlink(path);
  errno = saved;
  // The handler was reset on entry: the signal, taken again once it
  // returns, ends the process as it would have.
  ::raise(sig);
}

}  // namespace

void remove_temporaries_on_signals() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction act {};
    act.sa_handler = on_ending_signal;
    act.sa_mask = ending_signals();
    act.sa_flags = SA_RESETHAND;
    for (int sig = 1; sig < NSIG; ++sig) {
      if (sigismember(&ending_signals(), sig) != 1) continue;
      struct sigaction before {};
      if (::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
      ::sigaction(sig, &act, nullptr);
    }
    ::signal(SIGXFSZ, SIG_IGN);
  });
}

int list_temporary(const std::string& path) {
  char* copy = new char[path.size() + 1];
  std::memcpy(copy, path.c_str(), path.size() + 1);
  std::lock_guard hold(lock);
  try {
    if (free_places.empty()) {
      Chunk* c = new Chunk;
      const int first = static_cast<int>(chunks.size()) * kChunk;
      chunks.push_back(c);
      // Room for every place there is, so that unlisting never asks for
      // memory.
      free_places.reserve(chunks.size() * kChunk);
      for (int i = kChunk; i-- > 0;) free_places.push_back(first + i);
      c->next = newest.load(std::memory_order_relaxed);
      newest.store(c, std::memory_order_release);
    }
  } catch (...) {
    delete[] copy;
    throw;
  }
  const int place = free_places.back();
  free_places.pop_back();
  chunks[static_cast<std::size_t>(place / kChunk)]->path[place % kChunk].store(copy, std::memory_order_release);
  return place;
}

void unlist_temporary(int place) {
  std::lock_guard hold(lock);
  char* path = chunks[static_cast<std::size_t>(place / kChunk)]->path[place % kChunk].exchange(nullptr);
  delete[] path;
  free_places.push_back(place);  // room reserved when the chunk was made
}

}  // namespace zelk
