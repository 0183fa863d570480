// FClass20Func: one fax call over a service Class 2.0 (T.32) modem, the entry
// operations the fax kernel calls once it has selected "AT+FCLASS=2.0". The
// work is done by Class2xFunc with the Class 2.0 commands and reports
// ("AT+FCC", "+FCO", "+FCS:", "+FHS:" in hexadecimal, "AT+FKS").
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "protocol/class2x_func.h"

namespace vexo {

extern const Class2Dialect kClass20Dialect;

class FClass20Func : public Class2xFunc {
 public:
  FClass20Func() : Class2xFunc(kClass20Dialect) {}

  // kSessionDone, kSessionPartly or kSessionFailed; see Class2xFunc::Send.
  int SendFAXClass20(std::span<const std::string> files, std::string_view number,
                     std::string_view localId, std::uint32_t* resume, FaxResult* result) {
    return Send(files, number, localId, resume, result);
  }
  int ReceiveFAXClass20(const std::string& fileName, std::string_view localId, FaxResult* result) {
    return Receive(fileName, localId, result);
  }
};

}  // namespace vexo
