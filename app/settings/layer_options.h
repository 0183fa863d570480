// The option records of the lower layers, filled from the program's settings:
// the page renderers' ConvertOptions and the telephony line's DialSettings.
#pragma once

#include "app/settings/settings.h"
#include "document/convert_options.h"
#include "modem/tapi_oper.h"

namespace vexo {

ConvertOptions ConvertOptionsOf(const AppSettings& settings);
DialSettings DialSettingsOf(const AppSettings& settings);

}  // namespace vexo
