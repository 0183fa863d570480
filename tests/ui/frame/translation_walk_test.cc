// Every window and dialog of vexofax in each Chinese string table, with Qt's
// own texts loaded the way the program loads them: a text holding an English
// word that is no name, format, unit or value of ours fails, with its window.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileIconProvider>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>

#include <functional>
#include <memory>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "base/job_control.h"
#include "base/presenter.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/error_dialog.h"
#include "ui/common/qt_presenter.h"
#include "ui/common/qt_translations.h"
#include "ui/common/status_window.h"
#include "ui/common/ui_strings.h"
#include "ui/frame/main_frame.h"
#include "ui/frame/tray_status.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/contact_dlg.h"
#include "ui/send/conv_file_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"
#include "ui/settings/c_setting_sheet.h"
#include "ui/settings/font_choice_dlg.h"
#include "ui/settings/hint_dialog.h"
#include "ui/viewer/tiff_editor.h"

namespace vexo::ui {
namespace {

using test::ModalHandler;

// The product, formats, units and paper names, which Chinese windows show too.
const QRegularExpression kAllowed(
    QStringLiteral("^(Vexo\\w*|PDF|TIFF?|ECM|MH|MR|MMR|bps|dpi|COM|Class|A4|Letter|Legal)$"));
const QRegularExpression kEnglishWord(QStringLiteral("[A-Za-z]{2,}"));
// Paths and file patterns are values, shortcuts follow a tab, markup is no text.
const QRegularExpression kNoWords(QStringLiteral("\\S*[/*]\\S*|\\t.*|<[^>]*>"));

bool HasEnglishWord(const QString& text) {
  const QString words = QString(text).remove(kNoWords).remove(QChar('&')).replace('_', ' ');
  for (const auto& word : kEnglishWord.globalMatch(words))
    if (!kAllowed.match(word.captured()).hasMatch()) return true;
  return false;
}

QStringList TextsOf(QWidget* window) {
  QStringList texts;
  QList<QWidget*> widgets = window->findChildren<QWidget*>();
  widgets << window;
  for (QWidget* widget : widgets) {
    texts << widget->windowTitle() << widget->toolTip();
    if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget)) texts << group->title();
    std::unique_ptr<QMenu> menu;  // the context menu of a text box
    if (auto* edit = qobject_cast<QLineEdit*>(widget))
      menu.reset(edit->createStandardContextMenu());
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget))
      menu.reset(edit->createStandardContextMenu());
    if (menu)
      for (QAction* action : menu->actions()) texts << action->text();
    if (auto* tabs = qobject_cast<QTabBar*>(widget))
      for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i) << tabs->tabToolTip(i);
    if (auto* list = qobject_cast<QListWidget*>(widget))
      for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    if (auto* combo = qobject_cast<QComboBox*>(widget))
      for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    if (auto* header = qobject_cast<QHeaderView*>(widget); header && header->model())
      for (int i = 0; i < header->count(); ++i)
        texts << header->model()->headerData(i, header->orientation()).toString();
  }
  for (QAction* action : window->findChildren<QAction*>())
    texts << action->text() << action->toolTip();
  return texts;
}

class TranslationWalkTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadResDll(GetParam()));
    ASSERT_TRUE(translations.Apply(GetParam()));
    settings.SetHomeDirectory(home.dir());
    ASSERT_EQ(settings.LoadSettings(), 1);
    settings.TIFDataDir = home.dir();
    settings.CoverDir = home.dir();
    SetLogFontFaceName(settings.T2TFont, "\xE5\xAE\x8B\xE4\xBD\x93");  // a face the user chose
    store = CreateDBFunc(StoreOptions{home.path(), home.path()});
    ASSERT_TRUE(store);
    frame.settings = sheet.settings = &settings;
    send.settings = &settings;
    frame.job = &job;
    frame.store = [this] { return store.get(); };
    sheet.serialDevices = {"/dev/ttyS0"};
    send.store = store.get();
    send.contactsFile = home.path() / "contacts.vcf";
  }
  void TearDown() override { LoadResDll("EngRes"), translations.Apply("EngRes"); }

  // Pictures window, then fails on each of its texts (and extra) with an English word.
  static void Check(const QString& name, QWidget* window, const QStringList& extra = {}) {
    test::Screenshot(window, name + '_' + window->objectName() + '_' + GetParam());
    for (const QString& text : TextsOf(window) + extra)
      if (HasEnglishWord(text)) ADD_FAILURE() << name.toStdString() << ": " << text.toStdString();
  }

  QtTranslations translations;
  vexo::test::TempDir home;
  AppSettings settings;
  JobControl job;
  std::unique_ptr<DBFunc> store;
  FrameContext frame;
  SettingSheetContext sheet;
  SendContext send;
  SendFields fields;
  ScopedQtPresenter presenter;
};

TEST_P(TranslationWalkTest, NoWindowShowsAnEnglishWord) {
  EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_DontUseNativeDialogs));
  const std::pair<const char*, std::function<std::unique_ptr<QWidget>()>> windows[] = {
      {"settings", [&] { return std::make_unique<CSettingSheet>(sheet); }},
      {"font", [&] { return std::make_unique<CFontChoiceDlg>(settings.T2TFont, QStringList{}); }},
      {"hint", [] { return std::make_unique<HintDialog>(ResString(str::kHintTitle)); }},
      {"send",
       [&] {
         return std::make_unique<SendDlg>(SendDlg::Form::NewFax, fields, home.path(), nullptr);
       }},
      {"cover", [&] { return std::make_unique<CoverDetailsDlg>(fields); }},
      {"text", [] { return std::make_unique<TxtEditor>(); }},
      {"contacts", [] { return std::make_unique<ContactListDlg>(); }},
      {"numbers", [] { return std::make_unique<DetailListDlg>(Contact{}, NumberLabels()); }},
      {"convert",
       [&] { return std::make_unique<ConvFileDlg>(send, fields, std::vector<std::string>{}); }},
      {"summary", [&] { return std::make_unique<SummaryDlg>(send, fields); }},
      {"viewer", [] { return std::make_unique<CTiffEditor>(); }},
      {"error", [] { return std::make_unique<ErrorDialog>(QString()); }},
  };
  for (const auto& [name, make] : windows) Check(name, make().get());

  CMainFrame main(frame);
  main.ShowInitialFolder();
  job.StartJob(kReceiveJob);  // the status pane shows a page being received
  job.ShowProgress(2, 0);
  job.AddProgress(1500);
  ASSERT_TRUE(test::WaitFor([&] { return !main.Status().RightText().isEmpty(); }));
  Check("main", &main, {main.Tray().ToolTip()});
  job.EndJob();

  // Qt's standard buttons and file dialog, opened the way the program opens them.
  ModalHandler handler([](QWidget* modal) { Check("modal", modal); });
  for (unsigned style : {MB_YESNO | MB_ICONQUESTION, MB_OKCANCEL | MB_ICONEXCLAMATION})
    CurrentPresenter().MessageBox(LoadResString(str::kAskDiscardText), {}, style);
  CAttachDlg attach(fields, nullptr);
  attach.AddButton()->click();
  EXPECT_EQ(handler.shown, 3);
  // With the type the file dialog's list gives a folder.
  Check("attach", &attach,
        {QFileIconProvider().type(QFileInfo(QString::fromStdString(home.dir())))});
}

INSTANTIATE_TEST_SUITE_P(ChineseTables, TranslationWalkTest, ::testing::Values("ChsRes", "ChtRes"));

}  // namespace
}  // namespace vexo::ui
