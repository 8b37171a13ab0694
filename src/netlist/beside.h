// Two pieces of work at once, on the machine's second core.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

#include "netlist/threads.h"

namespace zelk {

// Runs `beside` on a thread of its own while `here` runs on this one, and
// returns when both are done.  The two must write apart.  A fault of
// either is raised here once both are done (here's first).  When the
// system gives no thread, both run here in turn.
template <class Beside, class Here>
void run_beside(Beside&& beside, Here&& here) {
  std::exception_ptr fault;
  std::thread t;
  try {
    t = start_thread([&] {
      try {
        beside();
      } catch (...) {
        fault = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    beside();
    here();
    return;
  }
  try {
    here();
  } catch (...) {
    t.join();
    throw;
  }
  t.join();
  if (fault) std::rethrow_exception(fault);
}

}  // namespace zelk
