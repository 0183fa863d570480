// The whole send chain as the main window runs it: each dialog answered like
// a user would, with the converted file checked on disk after every Back,
// Cancel, send and filing, and Forward and Re-send of a filed record.
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include "tests/support/temp_dir.h"
#include "tests/ui/send/send_test_support.h"
#include "ui/common/ui_strings.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/contact_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui::test {
namespace {

namespace fs = std::filesystem;

const fs::path kContacts = fs::path(VEXO_SOURCE_DIR) / "tests" / "data" / "contacts";

template <typename Dialog>
Dialog* As(QWidget* window) {
  auto* dialog = qobject_cast<Dialog*>(window);
  EXPECT_NE(dialog, nullptr) << window->objectName().toStdString();
  return dialog;
}

QAbstractButton* ButtonNamed(QWidget* window, unsigned textId) {
  for (auto* button : window->findChildren<QAbstractButton*>())
    if (button->text() == ResString(textId) && button->isVisible()) return button;
  ADD_FAILURE() << "no button " << textId << " in " << window->objectName().toStdString();
  return nullptr;
}
constexpr unsigned kOk = 65518;

class SendChainTest : public SendTest {
 protected:
  void SetUp() override {
    SendTest::SetUp();
    letter = home.path() / "letter.txt";
    vexo::test::WriteFileBytes(letter, "Dear Anne,\nthe parts are ready.\n");
  }

  // Recipient, number and cover page typed into SendDlg, then Next.
  ModalScript::Action Recipient(QString name, QString number, QString cover) {
    return [=](QWidget* w) {
      auto* dialog = As<SendDlg>(w);
      dialog->NameEdit()->setText(name);
      dialog->NumberEdit()->setText(number);
      dialog->CoverCombo()->setCurrentText(cover);
      ClickLater(dialog->NextButton());
    };
  }
  // The attachment list set to files, then Next.
  static ModalScript::Action Attach(std::vector<fs::path> files) {
    return [=](QWidget* w) {
      auto* dialog = As<CAttachDlg>(w);
      dialog->List()->clear();
      QStringList paths;
      for (const fs::path& file : files) paths << QString::fromStdString(file.string());
      dialog->SetAskFiles([paths] { return paths; });
      dialog->AddButton()->click();
      ClickLater(dialog->NextButton());
    };
  }
  static ModalScript::Action Press(QPushButton* (ChainDialog::*button)() const) {
    return [button](QWidget* w) { ClickLater((As<ChainDialog>(w)->*button)()); };
  }
  static ModalScript::Action FileInto(int index) {
    return [index](QWidget* w) {
      QAction* action = As<SummaryDlg>(w)->FileButton()->menu()->actions().at(index);
      QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    };
  }
  int Run(SendKind kind = SendKind::NewFax, FaxRecord record = {}) {
    SendRequest request;
    request.kind = kind;
    request.record = std::move(record);
    return RunSendDialogChain(nullptr, context, request);
  }

  fs::path letter;
};

constexpr auto kBack = &ChainDialog::BackButton;
constexpr auto kNext = &ChainDialog::NextButton;
constexpr auto kCancel = &ChainDialog::CancelButton;

TEST_F(SendChainTest, NewFaxWithCoverTextAndScanIsConvertedAndSent) {
  const fs::path scan = home.path() / "scan.tif";
  WriteForeignTiff(scan, 2480, 600, 300);  // an A4 scan at 300 dpi, cut short
  const fs::path typed = home.path() / "typed.txt";
  ModalScript script;
  script.On("SendDlg113", Recipient("Anne Baker", "555 0101", "business.txt"))
      .On("CoverDetailsDlg186",
          [](QWidget* w) {
            auto* dialog = As<CoverDetailsDlg>(w);
            dialog->SubjectEdit()->setText("Parts list");
            dialog->NoteEdit()->setPlainText("Please call back.");
            ClickLater(dialog->NextButton());
          })
      .On("CAttachDlg177",
          [&](QWidget* w) {
            auto* dialog = As<CAttachDlg>(w);
            dialog->SetAskFiles([&] { return QStringList{QString::fromStdString(scan.string())}; });
            dialog->AddButton()->click();
            dialog->SetEditorHook([&](TxtEditor& editor) {
              editor.SetAskSavePath([&] { return QString::fromStdString(typed.string()); });
            });
            ClickLater(dialog->NewTextButton());
          })
      .On("TxtEditor",
          [](QWidget* w) {
            w->findChild<QPlainTextEdit*>()->setPlainText("Two boxes, one crate.");
            ClickLater(ButtonNamed(w, kOk));
          })
      .On("CAttachDlg177",
          [&](QWidget* w) {
            Screenshot(w, "chain_attachments");
            ClickLater(As<CAttachDlg>(w)->NextButton());
          })
      .On("SummaryDlg156", [&](QWidget* w) {
        Screenshot(w, "chain_summary");
        ClickLater(As<SummaryDlg>(w)->SendNowButton());
      });
  EXPECT_EQ(Run(), kResultSendNow);
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  EXPECT_TRUE(script.errors.isEmpty()) << script.errors.join("\n").toStdString();
  ASSERT_EQ(sends.size(), 1u);
  const SendFields& sent = sends[0];
  EXPECT_EQ(sent.recipient, "Anne Baker");
  EXPECT_EQ(sent.number, "555 0101");
  EXPECT_EQ(sent.note, "Please call back.");
  EXPECT_EQ(sent.sources, (std::vector<std::string>{scan.string(), typed.string()}));
  EXPECT_TRUE(sendFileExisted[0]);
  // The send job owns the file now: the chain leaves it.
  ASSERT_TRUE(fs::exists(sent.generatedFile));
  const std::vector<FaxPage> pages = ReadFaxPages(sent.generatedFile);
  ASSERT_EQ(pages.size(), 3u);  // cover, scan, typed text
  EXPECT_EQ(sent.pages, 3u);
  for (const FaxPage& page : pages) EXPECT_EQ(page.width, 1728u);
  EXPECT_TRUE(Records(0).empty());  // filing is the send job's business
}

TEST_F(SendChainTest, NoCoverPageSkipsTheDetailsForwardAndBack) {
  ModalScript script;
  QString keptName;
  script.On("SendDlg113", Recipient("Anne", "555", "None"))
      .On("CAttachDlg177", Press(kBack))
      .On("SendDlg113",
          [&](QWidget* w) {
            keptName = As<SendDlg>(w)->NameEdit()->text();
            Recipient("Anne", "555", "plain.txt")(w);
          })
      .On("CoverDetailsDlg186", Press(kNext))
      .On("CAttachDlg177", Press(kBack))
      .On("CoverDetailsDlg186", Press(kBack))
      .On("SendDlg113", Recipient("Anne", "555", "None"))
      .On("CAttachDlg177", Attach({letter}))
      .On("SummaryDlg156", Press(kBack))
      .On("CAttachDlg177", Press(kCancel));
  EXPECT_EQ(Run(), kResultCancel);
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  EXPECT_EQ(keptName, "Anne");
  EXPECT_TRUE(sends.empty());
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(SendChainTest, GeneratedFileGoesWithBackAndCancelAndANewOneIsMadeEachTime) {
  std::vector<std::vector<std::string>> filesAtSummary;
  auto atSummary = [&](auto then) {
    return [&, then](QWidget* w) {
      filesAtSummary.push_back(DataFiles());
      then(w);
    };
  };
  ModalScript script;
  script.On("SendDlg113", Recipient("Anne", "555", "None"))
      .On("CAttachDlg177", Attach({letter}))
      .On("SummaryDlg156", atSummary(Press(kBack)))
      .On("CAttachDlg177",
          [&](QWidget* w) {
            filesAtSummary.push_back(DataFiles());
            ClickLater(As<CAttachDlg>(w)->NextButton());  // the list was kept
          })
      .On("SummaryDlg156", atSummary(Press(kCancel)));
  EXPECT_EQ(Run(), kResultCancel);
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  ASSERT_EQ(filesAtSummary.size(), 3u);
  EXPECT_EQ(filesAtSummary[0], std::vector<std::string>{"QXTEST1.tif"});
  EXPECT_TRUE(filesAtSummary[1].empty());
  EXPECT_EQ(filesAtSummary[2], std::vector<std::string>{"QXTEST2.tif"});
  EXPECT_TRUE(DataFiles().empty());
  EXPECT_TRUE(sends.empty());
}

TEST_F(SendChainTest, SendThatCannotStartKeepsTheSummaryAndTheFile) {
  int tries = 0;
  context.startSend = [&](const SendFields&) { return ++tries == 1 ? 0 : 1; };
  std::vector<std::string> filesAfterRefusal;
  ModalScript script;
  script.On("SendDlg113", Recipient("Anne", "555", "None"))
      .On("CAttachDlg177", Attach({letter}))
      .On("SummaryDlg156", [](QWidget* w) { ClickLater(As<SummaryDlg>(w)->SendNowButton()); })
      .On("SummaryDlg156", [&](QWidget* w) {
        filesAfterRefusal = DataFiles();
        ClickLater(As<SummaryDlg>(w)->SendNowButton());
      });
  EXPECT_EQ(Run(), kResultSendNow);
  EXPECT_EQ(tries, 2);
  EXPECT_EQ(filesAfterRefusal, std::vector<std::string>{"QXTEST1.tif"});
}

TEST_F(SendChainTest, FilingIntoTheInboxKeepsTheFileWithoutSending) {
  ModalScript script;
  script.On("SendDlg113", Recipient("Anne Baker", "555 0101", "None"))
      .On("CAttachDlg177", Attach({letter}))
      .On("SummaryDlg156", FileInto(1));
  EXPECT_EQ(Run(), kResultFiled);
  EXPECT_TRUE(sends.empty());
  const std::vector<FaxRecord> inbox = Records(2);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_EQ(inbox[0].fileName, "QXTEST1.tif");
  EXPECT_EQ(inbox[0].contact, "Anne Baker");
  EXPECT_EQ(inbox[0].pages, 1);
  EXPECT_EQ(DataFiles(), std::vector<std::string>{"QXTEST1.tif"});
  ASSERT_EQ(filed.size(), 1u);
  EXPECT_EQ(filed[0].first, 2);
}

TEST_F(SendChainTest, ContactButtonFillsNameAndNumber) {
  context.contactsFile = kContacts / "outlook21.vcf";
  QString name, number;
  ModalScript script;
  script.On("SendDlg113", [](QWidget* w) { ClickLater(As<SendDlg>(w)->ContactButton()); })
      .On("ContactListDlg",
          [](QWidget* w) {
            auto* picker = As<ContactListDlg>(w);
            picker->List()->setCurrentItem(picker->List()->topLevelItem(0));  // Baker, Anne
            ClickLater(ButtonNamed(w, kOk));
          })
      .On("DetailListDlg",
          [](QWidget* w) {
            w->findChild<QListWidget*>()->setCurrentRow(0);  // Home Fax
            ClickLater(ButtonNamed(w, kOk));
          })
      .On("SendDlg113", [&](QWidget* w) {
        name = As<SendDlg>(w)->NameEdit()->text();
        number = As<SendDlg>(w)->NumberEdit()->text();
        ClickLater(As<SendDlg>(w)->CancelButton());
      });
  EXPECT_EQ(Run(), kResultCancel);
  EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
  EXPECT_EQ(name, "Anne Baker");
  EXPECT_EQ(number, "555 0101");
}

TEST_F(SendChainTest, DamagedAddressBookIsReportedAndStillOffered) {
  context.contactsFile = kContacts / "broken.vcf";
  bool contactsEnabled = false;
  ModalScript script;
  script.Error().On("SendDlg113", [&](QWidget* w) {
    contactsEnabled = As<SendDlg>(w)->ContactButton()->isEnabled();
    ClickLater(As<SendDlg>(w)->CancelButton());
  });
  EXPECT_EQ(Run(), kResultCancel);
  ASSERT_EQ(script.errors.size(), 1);
  EXPECT_TRUE(script.errors[0].contains("damaged")) << script.errors[0].toStdString();
  EXPECT_TRUE(contactsEnabled);
}

class ForwardTest : public SendChainTest {
 protected:
  void SetUp() override {
    SendChainTest::SetUp();
    WriteForeignTiff(dataDir / "QXFILED.tif", 1728, 300, 196, 2);
    record.contact = "Old Name";
    record.telephone = "555 0200";
    record.fileName = "QXFILED.tif";
    record.pages = 2;
  }
  FaxRecord record;
};

TEST_F(ForwardTest, WithoutCoverTheRecordsFileIsSentAsItIs) {
  QString shownNumber;
  ModalScript script;
  script.On("SendDlg175", [&](QWidget* w) {
    shownNumber = As<SendDlg>(w)->NumberEdit()->text();
    Recipient("New Name", "555 0300", "None")(w);
  });
  EXPECT_EQ(Run(SendKind::Forward, record), kResultSendNow);
  EXPECT_EQ(shownNumber, "555 0200");
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].generatedFile, (dataDir / "QXFILED.tif").string());
  EXPECT_EQ(sends[0].recipient, "New Name");
  EXPECT_EQ(sends[0].number, "555 0300");
  EXPECT_EQ(DataFiles(), std::vector<std::string>{"QXFILED.tif"});
}

TEST_F(ForwardTest, WithCoverANewFileHoldsCoverAndRecordPages) {
  ModalScript script;
  script.On("SendDlg175", Recipient("New Name", "555 0300", "plain.txt"))
      .On("CoverDetailsDlg186", Press(kNext));
  EXPECT_EQ(Run(SendKind::Forward, record), kResultSendNow);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].generatedFile, (dataDir / "QXTEST1.tif").string());
  EXPECT_EQ(ReadFaxPages(sends[0].generatedFile).size(), 3u);
  EXPECT_EQ(ReadFaxPages(dataDir / "QXFILED.tif").size(), 2u);  // untouched
}

TEST_F(ForwardTest, RecordNamingAFileOutsideTheDataFolderIsRefused) {
  WriteForeignTiff(home.path() / "outside.tif", 1728, 100, 196);
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

TEST_F(ForwardTest, ResendStartsTheRecordsFileWithItsRecipient) {
  EXPECT_EQ(Run(SendKind::Resend, record), kResultSendNow);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].generatedFile, (dataDir / "QXFILED.tif").string());
  EXPECT_EQ(sends[0].recipient, "Old Name");
  EXPECT_EQ(sends[0].number, "555 0200");
}

}  // namespace
}  // namespace vexo::ui::test
