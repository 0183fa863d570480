#include "ui/common/ui_strings.h"

#include <cstdio>
#include <string>
#include <vector>

#include "base/string_ids.h"
#include "base/strings.h"

namespace vexo::ui {
namespace {

// Formats with the table text as format; a table text with conversions that do
// not fit the argument cannot reach here, since the program supplies both.
template <typename T>
QString Format(unsigned id, T argument) {
  const std::string format = LoadResString(id);
  const int size = std::snprintf(nullptr, 0, format.c_str(), argument);
  if (size < 0) return QString::fromStdString(format);
  std::vector<char> buffer(static_cast<std::size_t>(size) + 1);
  std::snprintf(buffer.data(), buffer.size(), format.c_str(), argument);
  return QString::fromUtf8(buffer.data(), size);
}

}  // namespace

QString ResString(unsigned id) { return QString::fromStdString(LoadResString(id)); }

QString ResFormat(unsigned id, const QString& argument) {
  const std::string text = argument.toStdString();
  return Format(id, text.c_str());
}

QString ResFormat(unsigned id, int number) { return Format(id, number); }

QString AutoModemName() {
  return HasResString(str::kAutoRetryLabel) ? ResString(str::kAutoRetryLabel)
                                            : QStringLiteral("Auto Retry All Modem");
}

}  // namespace vexo::ui
