#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include "tools/linesim/spandsp_state.h"

namespace vexo::linesim {

bool InCommandMode(t31_state_t* modem) {
  const int mode = modem->at_state.at_rx_mode;
  return mode == AT_MODE_ONHOOK_COMMAND || mode == AT_MODE_OFFHOOK_COMMAND;
}

bool InReceiveDelivery(t31_state_t* modem) {
  return modem->at_state.at_rx_mode == AT_MODE_DELIVERY;
}

bool InHighSpeedTransmit(t31_state_t* modem) {
  return modem->at_state.at_rx_mode == AT_MODE_STUFFED;
}

bool InHighSpeedReceive(t31_state_t* modem) {
  const int type = modem->modem;
  return InReceiveDelivery(modem) &&
         (type == FAX_MODEM_V17_RX || type == FAX_MODEM_V27TER_RX || type == FAX_MODEM_V29_RX);
}

void EnterCommandMode(t31_state_t* modem) { modem->at_state.at_rx_mode = AT_MODE_OFFHOOK_COMMAND; }

void FreeT31(t31_state_t* modem) {
  queue_state_t* queue = modem->rx_queue;
  t31_free(modem);
  if (queue != nullptr) queue_free(queue);
}

}  // namespace vexo::linesim
