// Threads of a run.  The signals that end a run from outside are left to
// the thread that started the run, whose handler removes the run's
// temporary files (writer/temporaries.h): every thread the run starts has
// them blocked, so that the handler never runs beside a change of the list
// of temporaries.
#pragma once

#include <signal.h>

#include <thread>
#include <utility>

namespace zelk {

// SIGINT, SIGTERM, SIGHUP, SIGQUIT and SIGPIPE.
const sigset_t& ending_signals();

// Holds the ending signals back on this thread while it lives; one that
// arrives meanwhile is taken when it ends.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() { pthread_sigmask(SIG_BLOCK, &ending_signals(), &before_); }
  ~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before_;
};

// A thread running f, started with the ending signals blocked (a new thread
// takes its mask from the one that starts it).
template <class F>
std::thread start_thread(F&& f) {
  EndingSignalsHeld held;
  return std::thread(std::forward<F>(f));
}

}  // namespace zelk
