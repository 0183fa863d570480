// What the send dialog tests share: a script that plays the user's part in the
// modal windows the chain opens one after the other, and a home with cover
// templates, a data folder and a real record store.
#pragma once

#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/settings/settings.h"
#include "app/store/db_func.h"
#include "tests/support/temp_dir.h"
#include "ui/common/qt_presenter.h"
#include "ui/send/chain_dialog.h"
#include "ui/send/send_chain.h"

class QAbstractButton;
class QWidget;

namespace vexo::ui::test {

// Clicks a button once the event loop runs again, outside the script's step.
void ClickLater(QAbstractButton* button);

// Plays the user: each step waits until the active modal window has the
// step's object name, then acts on it. Message boxes and the error dialog are
// steps too, so an unexpected one stalls the script. After limitMs the
// script gives up and closes whatever modal window is open, so a wrong turn
// fails the test instead of hanging it.
class ModalScript {
 public:
  using Action = std::function<void(QWidget*)>;
  explicit ModalScript(int limitMs = 60000);

  ModalScript& On(const QString& objectName, Action action);
  // The next message box, answered with button; the next error dialog, closed.
  ModalScript& Box(QMessageBox::StandardButton button = QMessageBox::Ok);
  ModalScript& Error();

  bool Finished() const { return m_steps.empty(); }
  QStringList windows;  // object names of the windows acted on, in order
  QStringList boxes;    // texts of the message boxes and error dialogs
  QStringList errors;

 private:
  struct Step {
    QString objectName;
    Action action;
  };
  void Tick();

  std::deque<Step> m_steps;
  QTimer m_timer;
  QElapsedTimer m_clock;
  int m_limitMs;
};

// Steps of the chain's windows for ModalScript::On: the window as its class;
// name, number (when not null) and cover page typed into SendDlg, then Next;
// the attachment list set to files, then Next; a chain dialog's button
// clicked; the summary's Send Now.
template <typename Dialog>
Dialog* As(QWidget* window) {
  auto* dialog = qobject_cast<Dialog*>(window);
  EXPECT_NE(dialog, nullptr) << window->objectName().toStdString();
  return dialog;
}
ModalScript::Action Recipient(QString name, QString number, QString cover);
ModalScript::Action Attach(std::vector<std::filesystem::path> files);
ModalScript::Action Press(QPushButton* (ChainDialog::*button)() const);
ModalScript::Action SendNow();
constexpr auto kBack = &ChainDialog::BackButton;
constexpr auto kNext = &ChainDialog::NextButton;
constexpr auto kCancel = &ChainDialog::CancelButton;

struct FaxPage {
  std::uint32_t width = 0;
  std::uint16_t pageNumber = 0;
  std::uint16_t pageTotal = 0;
};
// The pages of a TIFF file as libtiff reads them; empty when it cannot be opened.
std::vector<FaxPage> ReadFaxPages(const std::filesystem::path& file);

// The records of a store's folder, in filing order.
std::vector<FaxRecord> RecordsOf(DBFunc& store, int folder);

// A home with the sample cover templates in Cover/, an empty Data/, a record
// store, and a send context whose send job only records what it was given.
class SendTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Files in the data folder.
  std::vector<std::string> DataFiles() const;
  std::vector<FaxRecord> Records(int folder) { return RecordsOf(*store, folder); }

  vexo::test::TempDir home;
  std::filesystem::path coverDir, dataDir;
  AppSettings settings;
  std::unique_ptr<DBFunc> store;
  SendContext context;
  std::vector<SendFields> sends;  // what the send job was started with
  std::vector<std::pair<int, FaxRecord>> filed;
  int fileCounter = 0;
  std::unique_ptr<ScopedQtPresenter> presenter;
};

}  // namespace vexo::ui::test
