// FClass2Func: one fax call over a service Class 2 modem (the older command
// set), the entry operations the fax kernel calls once it has selected
// "AT+FCLASS=2". Class2xFunc does the work with the Class 2 commands and
// reports ("AT+FDCC", "AT+FLID", "AT+FET", "+FCON", "+FDCS:", "+FHNG:" in
// decimal, "AT+FK") and waits for CONNECT and XON before each page.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "protocol/class2x_func.h"

namespace vexo {

extern const Class2Dialect kClass2Dialect;

class FClass2Func : public Class2xFunc {
 public:
  FClass2Func() : Class2xFunc(kClass2Dialect) {}

  int SendFAXClass2(std::span<const std::string> files, std::string_view number,
                    std::string_view localId, std::uint32_t* resume, FaxResult* result) {
    return Send(files, number, localId, resume, result);
  }
  int ReceiveFAXClass2(const std::string& fileName, std::string_view localId, FaxResult* result) {
    return Receive(fileName, localId, result);
  }
};

}  // namespace vexo
