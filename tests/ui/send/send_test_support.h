// What the send dialog tests share: a script that plays the user's part in the
// modal windows the chain opens one after the other, a home directory with
// cover templates, a data folder and a real record store, and small file
// makers (foreign TIFF scans, text files) and readers (fax TIFF pages).
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
#include "app/store/fax_list_sink.h"
#include "tests/support/temp_dir.h"
#include "ui/common/qt_presenter.h"
#include "ui/send/send_chain.h"

class QAbstractButton;
class QWidget;

namespace vexo::ui::test {

// Clicks a button once the event loop runs again, so that a window the click
// opens runs its own loop outside the script's step.
void ClickLater(QAbstractButton* button);

// Saves widget's picture as <screenshot dir>/<name>.png.
void Screenshot(QWidget* widget, const QString& name);

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
  // The next message box: its text is recorded and button clicked.
  ModalScript& Box(QMessageBox::StandardButton button = QMessageBox::Ok);
  // The next error dialog: its text is recorded and it is closed.
  ModalScript& Error();

  bool Finished() const { return m_steps.empty(); }
  bool TimedOut() const { return m_timedOut; }
  // Object names of the windows acted on, in order.
  QStringList windows;
  QStringList boxes;
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
  bool m_timedOut = false;
};

// A foreign bilevel scan: width x rows pixels at dpi, Group 4, black bars.
void WriteForeignTiff(const std::filesystem::path& file, std::uint32_t width, std::uint32_t rows,
                      float dpi, std::uint16_t pages = 1);

struct FaxPage {
  std::uint32_t width = 0;
  std::uint32_t length = 0;
  std::uint16_t pageNumber = 0;
  std::uint16_t pageTotal = 0;
};
// The pages of a TIFF file as libtiff reads them; empty when it cannot be opened.
std::vector<FaxPage> ReadFaxPages(const std::filesystem::path& file);

// The record ids a folder listing gives, in order.
class RecordIds : public FaxListSink {
 public:
  void DeleteAllItems() override { ids.clear(); }
  void SetRecordCount(std::size_t) override {}
  void AddItem(const FaxListItem& item) override { ids.push_back(item.oid); }
  std::vector<CEOID> ids;
};

// A home with the sample cover templates in Cover/, an empty Data/, a record
// store, and a send context whose send job only records what it was given.
class SendTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Files in the data folder.
  std::vector<std::string> DataFiles() const;
  // The records of a folder, in filing order.
  std::vector<FaxRecord> Records(int folder);

  vexo::test::TempDir home;
  std::filesystem::path coverDir, dataDir;
  AppSettings settings;
  std::unique_ptr<DBFunc> store;
  SendContext context;
  std::vector<SendFields> sends;      // what the send job was started with
  std::vector<bool> sendFileExisted;  // whether its file was there at the start
  std::vector<std::pair<int, FaxRecord>> filed;
  int fileCounter = 0;
  std::unique_ptr<ScopedQtPresenter> presenter;
};

}  // namespace vexo::ui::test
