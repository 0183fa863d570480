#include "tests/ui/send/send_test_support.h"

#include <tiffio.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QWidget>

#include <memory>

#include "app/store/fax_list_sink.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/common/error_dialog.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui::test {

void ClickLater(QAbstractButton* button) {
  QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
}

ModalScript::ModalScript(int limitMs) : m_limitMs(limitMs) {
  QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
  m_timer.start(20);
  m_clock.start();
}

ModalScript& ModalScript::On(const QString& objectName, Action action) {
  m_steps.push_back({objectName, std::move(action)});
  return *this;
}

ModalScript& ModalScript::Box(QMessageBox::StandardButton button) {
  return On("VexoMessageBox", [this, button](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    boxes << box->text();
    QAbstractButton* chosen = box->button(button);
    ClickLater(chosen ? chosen : box->buttons().value(0));
  });
}

ModalScript& ModalScript::Error() {
  return On("ErrorDialog", [this](QWidget* window) {
    errors << static_cast<ErrorDialog*>(window)->Text();
    QMetaObject::invokeMethod(static_cast<QDialog*>(window), &QDialog::accept,
                              Qt::QueuedConnection);
  });
}

void ModalScript::Tick() {
  QWidget* modal = QApplication::activeModalWidget();
  if (!modal) return;
  if (m_clock.elapsed() > m_limitMs) {
    ADD_FAILURE() << "script stalled at window " << modal->objectName().toStdString()
                  << (m_steps.empty() ? std::string(" (no steps left)")
                                      : " waiting for " + m_steps.front().objectName.toStdString());
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
    return;
  }
  if (m_steps.empty() || modal->objectName() != m_steps.front().objectName) return;
  Step step = std::move(m_steps.front());
  m_steps.pop_front();
  windows << step.objectName;
  step.action(modal);
}

ModalScript::Action Recipient(QString name, QString number, QString cover) {
  return [=](QWidget* w) {
    auto* dialog = As<SendDlg>(w);
    if (!name.isNull()) dialog->NameEdit()->setText(name);
    if (!number.isNull()) dialog->NumberEdit()->setText(number);
    dialog->CoverCombo()->setCurrentText(cover);
    ClickLater(dialog->NextButton());
  };
}

ModalScript::Action Attach(std::vector<std::filesystem::path> files) {
  return [=](QWidget* w) {
    auto* dialog = As<CAttachDlg>(w);
    dialog->List()->clear();
    QStringList paths;
    for (const auto& file : files) paths << QString::fromStdString(file.string());
    dialog->SetAskFiles([paths] { return paths; });
    dialog->AddButton()->click();
    ClickLater(dialog->NextButton());
  };
}

ModalScript::Action Press(QPushButton* (ChainDialog::*button)() const) {
  return [button](QWidget* w) { ClickLater((As<ChainDialog>(w)->*button)()); };
}

ModalScript::Action SendNow() {
  return [](QWidget* w) { ClickLater(As<SummaryDlg>(w)->SendNowButton()); };
}

std::vector<FaxPage> ReadFaxPages(const std::filesystem::path& file) {
  std::vector<FaxPage> pages;
  std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(file.c_str(), "r"), TIFFClose);
  if (!tif) return pages;
  do {
    FaxPage page;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(tif.get(), TIFFTAG_PAGENUMBER, &page.pageNumber, &page.pageTotal);
    pages.push_back(page);
  } while (TIFFReadDirectory(tif.get()));
  return pages;
}

std::vector<FaxRecord> RecordsOf(DBFunc& store, int folder) {
  struct Ids : FaxListSink {
    void DeleteAllItems() override { ids.clear(); }
    void SetRecordCount(std::size_t) override {}
    void AddItem(const FaxListItem& item) override { ids.push_back(item.oid); }
    std::vector<CEOID> ids;
  } sink;
  std::vector<FaxRecord> records;
  if (store.ListFolder(sink, FolderType(folder), 0, kSortAscending) != 1) return records;
  for (CEOID oid : sink.ids)
    if (FaxRecord record; store.ReadRecord(oid, record) == 1) records.push_back(record);
  return records;
}

void SendTest::SetUp() {
  ASSERT_TRUE(LoadResDll("EngRes"));
  ErrorPool::Instance().Clear();
  presenter = std::make_unique<ScopedQtPresenter>();
  coverDir = home.path() / "Cover";
  dataDir = home.path() / "Data";
  std::filesystem::create_directories(coverDir);
  std::filesystem::create_directories(dataDir);
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(VEXO_SOURCE_DIR) / "resources" / "cover"))
    std::filesystem::copy_file(entry.path(), coverDir / entry.path().filename());
  settings.SetHomeDirectory(home.dir());
  settings.CoverDir = coverDir.string() + "/";
  settings.TIFDataDir = dataDir.string() + "/";
  settings.LogPath = home.dir();
  settings.ProfileFullName = "Vera Sender";
  settings.ProfileFaxNO = "+44 20 7946 0000";
  settings.ProfileLogo = settings.CoverDir + "logo.bmp";
  store = std::make_unique<DBFunc>(StoreOptions{home.path(), dataDir});
  ASSERT_EQ(store->InitDatabases(), 1);

  context.settings = &settings;
  context.store = store.get();
  context.contactsFile = home.path() / "contacts.vcf";  // none: an empty book
  context.newFaxFile = [this] {
    return (dataDir / ("QXTEST" + std::to_string(++fileCounter) + ".tif")).string();
  };
  context.startSend = [this](const SendFields& fields) {
    sends.push_back(fields);
    return 1;
  };
  context.filed = [this](int folder, const FaxRecord& record) {
    filed.emplace_back(folder, record);
  };
}

void SendTest::TearDown() {
  presenter.reset();
  store.reset();
  ErrorPool::Instance().Clear();
}

std::vector<std::string> SendTest::DataFiles() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dataDir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace vexo::ui::test
