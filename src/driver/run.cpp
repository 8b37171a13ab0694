#include "driver/run.h"
namespace zelk {
int run(int, const char* const*, FILE*) { return 1; }
}  // namespace zelk
