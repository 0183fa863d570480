// Entry point of the settings sheet: the main window opens it from its menu,
// the receive and send checks when the chosen modem cannot be used. What the
// sheet needs beyond the settings record comes in a SettingSheetContext, so it
// can run without the rest of the program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/jobs/app_oper.h"

class QWidget;

namespace vexo {
struct AppSettings;
class LogFile;
class TAPIOper;
}  // namespace vexo

namespace vexo::ui {

// The current modem index of the automatic choice (every modem in turn).
constexpr std::uint32_t kAutoModemIndex = kEveryModem;

// One entry of the telephony line's modem list.
struct SheetModem {
  std::string name;
  bool voice = false;  // a phone modem: a voice call goes first
};

// The modem list as the telephony line holds it (empty for null).
std::vector<SheetModem> SheetModemsOf(const TAPIOper* modems);

struct SettingSheetContext {
  AppSettings* settings = nullptr;  // edited in place when the sheet is accepted
  std::vector<SheetModem> modems;   // the modem list, in list order
  // In: the current modem index; out after OK: the chosen one (list index, or
  // kAutoModemIndex; unchanged in the serial port mode).
  std::uint32_t currentModem = kAutoModemIndex;
  // Run after the settings were stored on OK: the kernel settings (forced class,
  // communication log, line speed) and the modem choice are applied again.
  std::function<void()> applySettings;
  // The serial devices offered; empty: the serial devices of this machine.
  std::vector<std::string> serialDevices;
  LogFile* systemLog = nullptr;  // where flushed reports are logged; may be null
};

// Shows the sheet modally over parent. True when it was accepted: the settings
// then hold the new values and applySettings has run. Cancel keeps every value.
bool RunSettingSheet(QWidget* parent, SettingSheetContext& context);

// The sheet over the program's own settings: on OK the kernel and the modem
// choice follow the new values at once, and the settings file is written, so
// the values hold even if the program does not end normally.
bool RunAppSettingSheet(QWidget* parent, AppOper& app);

}  // namespace vexo::ui
