// tmx --check: reads everything the program would read at start-up, connects
// to nothing, and explains every problem in plain words with file and line.
#pragma once

#include <string>

#include "common/console.h"

namespace tmx {

// Checks the files of the working directory dir ("" = the current one):
// tmx_server.cfg, each used slot's server_N.cfg, the language files and the
// player database. Every finding goes to console as one or more lines.
// Returns the exit status: 0 when all is well, 1 otherwise.
int CheckConfiguration(const std::string& dir, Console& console);

}  // namespace tmx
