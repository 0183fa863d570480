// String-table texts as Qt strings for the desktop windows.
#pragma once

#include <QString>

namespace vexo::ui {

// The string-table text for id.
QString ResString(unsigned id);
// The string-table text for id used as a printf format with one text argument.
QString ResFormat(unsigned id, const QString& argument);
// The string-table text for id used as a printf format with one number.
QString ResFormat(unsigned id, int number);
// The automatic modem choice's name: string str::kAutoRetryLabel, or its English default.
QString AutoModemName();

}  // namespace vexo::ui
