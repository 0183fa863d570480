#include "ui/common/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

#include "base/error_pool.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"

namespace vexo::ui {
namespace {

// The translation catalogue of Qt's widgets, dialogs and standard buttons.
const QString kQtCatalogue = QStringLiteral("qtbase_");

// Texts of Qt that its catalogue lacks, from the string table: the type the
// file dialogs show for a folder.
class MissingQtTexts final : public QTranslator {
 public:
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                    int /*n*/) const override {
    if (qstrcmp(context, "QAbstractFileIconProvider") == 0 && qstrcmp(sourceText, "Folder") == 0)
      return ResString(str::kFileDialogFolder);
    return {};
  }
};

}  // namespace

QString QtLocaleOfTable(std::string_view tableName) {
  if (tableName == "ChsRes") return QStringLiteral("zh_CN");
  if (tableName == "ChtRes") return QStringLiteral("zh_TW");
  return {};
}

QtTranslations::QtTranslations() : m_missing(std::make_unique<MissingQtTexts>()) {}

QtTranslations::~QtTranslations() { Remove(); }

void QtTranslations::Remove() {
  if (!m_installed) return;
  QCoreApplication::removeTranslator(&m_translator);
  QCoreApplication::removeTranslator(m_missing.get());
  m_installed = false;
}

bool QtTranslations::Apply(std::string_view tableName) {
  Remove();
  const QString locale = QtLocaleOfTable(tableName);
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, !locale.isEmpty());
  // Texts Qt takes from the locale (file type descriptions) follow the table too.
  QLocale::setDefault(locale.isEmpty() ? QLocale::system() : QLocale(locale));
  if (locale.isEmpty()) return true;
  m_installed = true;
  QCoreApplication::installTranslator(m_missing.get());
  const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!m_translator.load(kQtCatalogue + locale, directory)) {
    ReportError(0, kMsgLogOnly, "VexoMFC", "QtTranslations::Apply",
                "Qt's translation [%s] could not be loaded from [%s].",
                (kQtCatalogue + locale).toUtf8().constData(), directory.toUtf8().constData());
    return false;
  }
  QCoreApplication::installTranslator(&m_translator);
  return true;
}

}  // namespace vexo::ui
