#include "driver/run.h"

#include <cstdio>

#include "writer/temporaries.h"

// The messages go through one buffer, so that the line of each of many
// files written does not cost a write to the system of its own; every
// other line is flushed as it is said.  A run ended by a signal leaves
// none of its temporary files.
int main(int argc, char** argv) {
  zelk::remove_temporaries_on_signals();
  static char log_buffer[1 << 16];
  std::setvbuf(stderr, log_buffer, _IOFBF, sizeof log_buffer);
  return zelk::run(argc, argv, stderr);
}
