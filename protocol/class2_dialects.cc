#include "modem/hangup_codes.h"
#include "protocol/class20_func.h"
#include "protocol/class2_func.h"

namespace vexo {

const Class2Dialect kClass20Dialect{
    .class20 = true,
    .module = "FClass20Func",
    .sendFunction = "SendFAXClass20",
    .receiveFunction = "ReceiveFAXClass20",
    .pageFunction = "RevClass20FaxPage",
    .accessFunction = "RevFaxCls20Access",
    .localIdCommand = "AT+FLI=\"%s\"",
    .capabilityQuery = "AT+FCC=?",
    .capabilitySet = "AT+FCC=%s",
    .unknownCapability = "Unknow modem AT+FCC command response.",
    .connected = "+FCO",
    .hangup = "+FHS:",
    .remoteIdSend = "+FCI:",
    .remoteIdReceive = "+FTI:",
    .parameters = "+FCS:",
    .pageStatus = "+FPS:",
    .abortCommand = "AT+FKS",
    .hangupClass = kHangupClass20,
    // T.32 has one value for ECM; the frame size is the modem's.
    .ecm256 = 1,
    .ecm64 = 0,
};

const Class2Dialect kClass2Dialect{
    .class20 = false,
    .module = "FClass2Func",
    .sendFunction = "SendFAXClass2",
    .receiveFunction = "ReceiveFAXClass2",
    .pageFunction = "ReceiveFAXClass2",
    .accessFunction = "RevFaxCls2Access",
    .localIdCommand = "AT+FLID=\"%s\"",
    .capabilityQuery = "AT+FDCC=?",
    .capabilitySet = "AT+FDCC=%s",
    .unknownCapability = "Unknow modem AT+FDCC command response.",
    .connected = "+FCON",
    .hangup = "+FHNG:",
    .remoteIdSend = "+FCSI:",
    .remoteIdReceive = "+FTSI:",
    .parameters = "+FDCS:",
    .pageStatus = "+FPTS:",
    .abortCommand = "AT+FK",
    .hangupClass = 2,
    .ecm256 = 2,
    .ecm64 = 1,
};

}  // namespace vexo
