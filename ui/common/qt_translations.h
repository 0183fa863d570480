// Qt's own texts (the standard buttons of message boxes and dialogs, the file
// dialogs, the context menus of text boxes) in the language of the string table
// the program runs with: Qt's translations for zh_CN with ChsRes, for zh_TW with
// ChtRes, none with the English table.
#pragma once

#include <QString>
#include <QTranslator>

#include <memory>
#include <string_view>

namespace vexo::ui {

// The Qt locale name of a string table ("ChsRes" zh_CN, "ChtRes" zh_TW), empty
// for the English table and any other name.
QString QtLocaleOfTable(std::string_view tableName);

// Holds the translators installed into the application while it lives.
class QtTranslations {
 public:
  QtTranslations();
  QtTranslations(const QtTranslations&) = delete;
  QtTranslations& operator=(const QtTranslations&) = delete;
  ~QtTranslations();

  // Makes Qt's texts follow the string table tableName; called again when the
  // table changes. Where the table is not English the file dialogs are Qt's
  // own, since the desktop's native ones follow the desktop's language. False
  // (logged) when Qt's translation file cannot be loaded: Qt's texts then stay
  // English.
  bool Apply(std::string_view tableName);

 private:
  void Remove();

  QTranslator m_translator;                // Qt's catalogue for the language
  std::unique_ptr<QTranslator> m_missing;  // what the catalogue lacks
  bool m_installed = false;
};

}  // namespace vexo::ui
