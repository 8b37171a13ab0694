// Temporary files that a run must not leave behind when a signal ends it
// (an interrupt from the terminal, a batch system's time limit).  The list
// is the process's own, as signals are.
#pragma once

#include <string>

namespace zelk {

// Installs, once, the handlers of the ending signals (netlist/threads.h):
// each removes every temporary still listed, then ends the process by the
// same signal.  A signal that the process was started ignoring (a run
// under nohup) stays ignored.  A file growing past the size limit
// (SIGXFSZ) then fails its write as on a full disk, instead of ending the
// process with its temporary left.
void remove_temporaries_on_signals();

// Lists the path of a temporary about to be made; returns its place.
int list_temporary(const std::string& path);
// The temporary at that place is renamed or removed.
void unlist_temporary(int place);

}  // namespace zelk
