#include "netlist/threads.h"

namespace zelk {

const sigset_t& ending_signals() {
  static const sigset_t set = [] {
    sigset_t s;
    sigemptyset(&s);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&s, sig);
    return s;
  }();
  return set;
}

}  // namespace zelk
