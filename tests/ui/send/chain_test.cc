// The whole send chain as the main window runs it: each dialog answered like
// a user would, with the converted file checked on disk after every Back,
// Cancel, send and filing, and Forward and Re-send of a filed record.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "base/string_ids.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/send/send_test_support.h"
#include "tests/ui/support/ui_test_support.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui::test {
namespace {

namespace fs = std::filesystem;

class SendChainTest : public SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    letter = home.path() / "letter.TXT";  // upper case is still text
    vexo::test::WriteFileBytes(letter, "Dear Anne,\nthe parts are ready.\n");
  }

  int Run(SendKind kind = SendKind::NewFax, FaxRecord record = {}) {
    SendRequest request;
    request.kind = kind;
    request.record = std::move(record);
    return RunSendDialogChain(nullptr, context, request);
  }
  // A step that notes the data folder's files, then does then.
  ModalScript::Action Note(ModalScript::Action then) {
    return [this, then](QWidget* w) {
      filesSeen.push_back(DataFiles());
      then(w);
    };
  }

  fs::path letter;
  std::vector<std::vector<std::string>> filesSeen;
};

// Back and Cancel from any step: no cover page skips the details both ways,
// what was typed is kept, the generated file goes with Back and Cancel and a
// new one is made for each summary.
TEST_F(SendChainTest, BackAndCancelWalkTheStepsAndLeaveNoFile) {
  ModalScript script;
  script.On("SendDlg113", Recipient("Anne", "555", "None"))
      .On("CAttachDlg177", Press(kBack))
      .On("SendDlg113",
          [&](QWidget* w) {
            EXPECT_EQ(As<SendDlg>(w)->NameEdit()->text(), "Anne");
            Recipient("Anne", "555", "plain.txt")(w);
          })
      .On("CoverDetailsDlg186",
          [](QWidget* w) {
            As<CoverDetailsDlg>(w)->SubjectEdit()->setText("Order 18");
            As<CoverDetailsDlg>(w)->NoteEdit()->setPlainText("Two lines\nof note");
            Press(kBack)(w);
          })
      .On("SendDlg113", Recipient("Anne", "555", "plain.txt"))
      .On("CoverDetailsDlg186",
          [](QWidget* w) {
            EXPECT_EQ(As<CoverDetailsDlg>(w)->SubjectEdit()->text(), "Order 18");
            EXPECT_EQ(As<CoverDetailsDlg>(w)->NoteEdit()->toPlainText(), "Two lines\nof note");
            Screenshot(w, "cover_details_dlg");
            Press(kNext)(w);
          })
      .On("CAttachDlg177", Press(kBack))
      .On("CoverDetailsDlg186", Press(kBack))
      .On("SendDlg113", Recipient("Anne", "555", "None"))
      .On("CAttachDlg177", Attach({letter}))
      .On("SummaryDlg156", Note(Press(kBack)))
      .On("CAttachDlg177", Note(Press(kNext)))  // the list was kept
      .On("SummaryDlg156", Note(Press(kCancel)));
  EXPECT_EQ(Run(), kResultCancel);
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  using Files = std::vector<std::string>;
  EXPECT_EQ(filesSeen, (std::vector<Files>{{"QXTEST1.tif"}, {}, {"QXTEST2.tif"}}));
  EXPECT_TRUE(sends.empty());
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(SendChainTest, FilingIntoTheInboxKeepsTheFileWithoutSending) {
  settings.T2TQuality = 1;
  QString summary;
  ModalScript script;
  script.On("SendDlg113", Recipient("Anne Baker", "555 0101", "plain.txt"))
      .On("CoverDetailsDlg186",
          [](QWidget* w) {
            As<CoverDetailsDlg>(w)->NoteEdit()->setPlainText("Call back");
            ClickLater(As<CoverDetailsDlg>(w)->NextButton());
          })
      .On("CAttachDlg177", Attach({letter}))
      .On("SummaryDlg156", [&](QWidget* w) {
        Screenshot(w, "summary_dlg");
        summary = As<SummaryDlg>(w)->SummaryText();
        QAction* inbox = As<SummaryDlg>(w)->FileButton()->menu()->actions().at(1);
        QMetaObject::invokeMethod(inbox, &QAction::trigger, Qt::QueuedConnection);
      });
  EXPECT_EQ(Run(), kResultFiled);
  EXPECT_TRUE(summary.contains("Anne Baker") && summary.contains("555 0101") &&
              summary.contains("Pages: 2"))
      << summary.toStdString();
  EXPECT_TRUE(sends.empty());
  EXPECT_TRUE(Records(0).empty());
  const std::vector<FaxRecord> inbox = Records(2);
  ASSERT_EQ(inbox.size(), 1u);
  const FaxRecord& r = inbox[0];
  EXPECT_EQ(std::tie(r.contact, r.telephone, r.fileName, r.note),
            std::make_tuple("Anne Baker", "555 0101", "QXTEST1.tif", "Call back"));
  EXPECT_EQ(std::tie(r.status, r.pages, r.resolution, r.noteFlag), std::make_tuple(1, 2, 1, 1));
  EXPECT_EQ(DataFiles(), std::vector<std::string>{"QXTEST1.tif"});
  ASSERT_EQ(filed.size(), 1u);
  EXPECT_EQ(filed[0].first, 2);
}

class ForwardTest : public SendChainTest {
 protected:
  void SetUp() override {
    SendChainTest::SetUp();
    WriteForeignTiff(dataDir / "QXFILED.tif", 1728, 300, 196, 196, 2);
    record.contact = "Old Name";
    record.telephone = "555 0200";
    record.fileName = "QXFILED.tif";
    record.pages = 2;
  }
  FaxRecord record;
};

// Forward without a cover page and Re-send start the record's own file;
// Forward with one makes a new file of the cover and the record's pages,
// numbered in order at fax width, which the send job owns from then on.
TEST_F(ForwardTest, ForwardAndResendSendTheRecordsPages) {
  ModalScript script;
  script
      .On("SendDlg175",
          [&](QWidget* w) {
            EXPECT_EQ(As<SendDlg>(w)->NumberEdit()->text(), "555 0200");
            Recipient("New Name", "555 0300", "None")(w);
          })
      .On("SendDlg175", Recipient("New Name", "555 0300", "plain.txt"))
      .On("CoverDetailsDlg186", Press(kNext));
  EXPECT_EQ(Run(SendKind::Forward, record), kResultSendNow);
  EXPECT_EQ(Run(SendKind::Resend, record), kResultSendNow);
  EXPECT_EQ(Run(SendKind::Forward, record), kResultSendNow);
  ASSERT_EQ(sends.size(), 3u);
  const char* const expected[][3] = {{"QXFILED.tif", "New Name", "555 0300"},
                                     {"QXFILED.tif", "Old Name", "555 0200"},
                                     {"QXTEST1.tif", "New Name", "555 0300"}};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(sends[i].generatedFile, (dataDir / expected[i][0]).string());
    EXPECT_EQ(sends[i].recipient, expected[i][1]);
    EXPECT_EQ(sends[i].number, expected[i][2]);
  }
  const std::vector<FaxPage> pages = ReadFaxPages(sends[2].generatedFile);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(sends[2].pages, 3u);
  EXPECT_EQ(sends[2].bytes, fs::file_size(sends[2].generatedFile));
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i].width, 1728u);
    EXPECT_EQ(pages[i].pageNumber, i);
    EXPECT_EQ(pages[i].pageTotal, 3u);
  }
  EXPECT_EQ(ReadFaxPages(dataDir / "QXFILED.tif").size(), 2u);  // untouched
}

TEST_F(ForwardTest, RecordNamingAFileOutsideTheDataFolderIsRefused) {
  WriteForeignTiff(home.path() / "outside.tif", 1728, 100, 196, 196);
  for (const std::string name : {"../outside.tif", "/etc/passwd", "sub/x.tif", ""}) {
    record.fileName = name;
    ModalScript script;
    script.Error().Error();
    EXPECT_EQ(Run(SendKind::Forward, record), kResultCancel) << name;
    EXPECT_EQ(Run(SendKind::Resend, record), kResultCancel) << name;
    EXPECT_EQ(script.errors.size(), 2) << name;
  }
  EXPECT_TRUE(sends.empty());
}

}  // namespace
}  // namespace vexo::ui::test
