// The one piece of spandsp's T.31 state the simulator needs but spandsp 0.0.6
// does not publish: whether the modem's AT interpreter is taking command lines
// or passing data. Kept in one unit so the private header is included once.
#pragma once

#include <spandsp.h>

namespace vexo::linesim {

// True while the T.31 modem reads bytes from the program as AT command lines.
bool InCommandMode(t31_state_t* modem);

}  // namespace vexo::linesim
