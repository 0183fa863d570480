// The pieces of spandsp's T.31 state the simulator needs but spandsp 0.0.6 does
// not publish: whether the modem's AT interpreter is taking command lines or
// passing data (and putting it back to command mode), and the receive queue
// that t31_free forgets to free. Kept in one unit so that spandsp's private
// headers are included once.
#pragma once

#include <spandsp.h>

namespace vexo::linesim {

// True while the T.31 modem reads bytes from the program as AT command lines.
bool InCommandMode(t31_state_t* modem);

// True while T.31 passes received frames or data to the program; a byte from
// the program then ends the reception.
bool InReceiveDelivery(t31_state_t* modem);

// True while T.31 takes DLE-stuffed data from the program to send on a
// high-speed carrier (after AT+FTM's CONNECT).
bool InHighSpeedTransmit(t31_state_t* modem);

// True while T.31 delivers what a high-speed carrier brings (AT+FRM).
bool InHighSpeedReceive(t31_state_t* modem);

// Puts T.31's AT interpreter into off-hook command mode, as spandsp does
// itself after delivering a frame.
void EnterCommandMode(t31_state_t* modem);

// Frees a T.31 modem made by t31_init(nullptr, ...) with everything it holds.
void FreeT31(t31_state_t* modem);

}  // namespace vexo::linesim
