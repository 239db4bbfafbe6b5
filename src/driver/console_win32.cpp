// The Windows C runtime opens standard output and standard error in text
// mode, which writes every "\n" as "\r\n". Binary mode keeps the bytes as the
// program prints them; a Windows console still starts a new line at a line
// feed.
#include "driver/console.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace driver {

void PrepareConsole() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace driver
