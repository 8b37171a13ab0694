// Placeholder until the NLD writer is written.
#include "writer/writer.h"
namespace zelk {
void print_nld(Design&) { fail("writer not built"); }
}  // namespace zelk
