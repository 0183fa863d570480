// The output side of a two-port phone modem (--phone-two-ports): echo, result
// lines and CONNECT go to the command port; what a reception delivers after
// its CONNECT (frames or page data, DLE-stuffed, up to DLE ETX) goes to the
// data port. Verbose result codes are recognised; the data port carries
// nothing else.
#pragma once

#include <string>
#include <string_view>

namespace vexo::linesim {

class TwoPortRouter {
 public:
  struct Routed {
    std::string command;
    std::string data;
  };
  // Splits bytes the modem sends. receiving: the command being run is +FRH or
  // +FRM, whose CONNECT is followed by received data.
  Routed Route(std::string_view bytes, bool receiving);
  // Back to command state, as at power-on.
  void Reset();

 private:
  void ToCommand(char c, bool receiving, Routed& out);
  void ToData(char c, Routed& out);

  bool m_data = false;     // between a reception's CONNECT and its DLE ETX
  bool m_dle = false;      // the last data byte was DLE
  bool m_anyData = false;  // data has been delivered in this reception
  std::string m_line;      // the result line being sent
  std::string m_held;      // a repeated CONNECT before the data, while unsure
};

}  // namespace vexo::linesim
