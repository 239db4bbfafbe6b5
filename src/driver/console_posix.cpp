// POSIX streams never translate line ends: nothing to prepare.
#include "driver/console.h"

namespace driver {

void PrepareConsole() {}

}  // namespace driver
