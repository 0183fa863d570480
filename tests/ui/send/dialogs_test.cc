// The send chain's dialogs one at a time, driven through their real windows
// the way a user clicks them: the recipient step, the attachments with the
// text editor, the conversion on its thread, the summary's filing and the
// contact picker over hand-made address books.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include "base/error_pool.h"
#include "base/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/send/send_test_support.h"
#include "ui/common/ui_strings.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/contact_dlg.h"
#include "ui/send/conv_file_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui::test {
namespace {

namespace fs = std::filesystem;

const fs::path kContacts = fs::path(VEXO_SOURCE_DIR) / "tests" / "data" / "contacts";

QAbstractButton* ButtonNamed(QWidget* window, unsigned textId) {
  for (auto* button : window->findChildren<QAbstractButton*>())
    if (button->text() == ResString(textId) && button->isVisible()) return button;
  ADD_FAILURE() << "no button " << ResString(textId).toStdString() << " in "
                << window->objectName().toStdString();
  return nullptr;
}
constexpr unsigned kOk = 65518, kNext = 65508, kCancel = 65509;

void WriteText(const fs::path& file, const std::string& text) {
  vexo::test::WriteFileBytes(file, text);
}

using SendDialogsTest = SendTest;

TEST_F(SendDialogsTest, RecipientStepNeedsANumberAndStoresNameNumberAndCover) {
  SendFields fields;
  fields.coverName = "PLAIN.TXT";  // chosen before, another spelling
  SendDlg dialog(SendDlg::Form::NewFax, fields, coverDir, nullptr);
  ASSERT_EQ(dialog.CoverCombo()->itemText(0), "None");
  QStringList covers;
  for (int i = 1; i < dialog.CoverCombo()->count(); ++i) covers << dialog.CoverCombo()->itemText(i);
  EXPECT_EQ(covers, (QStringList{"business.txt", "chinese.txt", "plain.txt"}));
  EXPECT_EQ(dialog.CoverCombo()->currentText(), "plain.txt");
  EXPECT_EQ(dialog.NameEdit()->maxLength(), 127);
  EXPECT_EQ(dialog.NumberEdit()->maxLength(), 63);
  EXPECT_FALSE(dialog.BackButton()->isEnabled());

  ModalScript script;
  script
      .On("SendDlg113",
          [&](QWidget* w) {
            Screenshot(w, "send_dlg_new_fax");
            dialog.NameEdit()->setText("Anne Baker");
            dialog.NumberEdit()->setText("   ");  // blanks are no number
            ClickLater(dialog.NextButton());
          })
      .Box()
      .On("SendDlg113", [&](QWidget*) {
        dialog.NumberEdit()->setText(" 555 0101 ");
        dialog.CoverCombo()->setCurrentText("business.txt");
        ClickLater(dialog.NextButton());
      });
  EXPECT_EQ(dialog.exec(), kResultNext);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(script.boxes, QStringList{ResString(65084)});
  EXPECT_EQ(fields.recipient, "Anne Baker");
  EXPECT_EQ(fields.number, "555 0101");
  EXPECT_EQ(fields.coverName, "business.txt");

  // "None" clears the cover page.
  SendDlg again(SendDlg::Form::Forward, fields, coverDir, nullptr);
  EXPECT_EQ(again.objectName(), "SendDlg175");
  EXPECT_EQ(again.NameEdit()->text(), "Anne Baker");
  EXPECT_EQ(again.CoverCombo()->currentText(), "business.txt");
  again.CoverCombo()->setCurrentIndex(0);
  ModalScript second;
  second.On("SendDlg175", [&](QWidget* w) {
    Screenshot(w, "send_dlg_forward");
    ClickLater(again.NextButton());
  });
  EXPECT_EQ(again.exec(), kResultNext);
  EXPECT_EQ(fields.coverName, "");
}

TEST_F(SendDialogsTest, CoverDetailsKeepWhatWasTypedOnBack) {
  SendFields fields;
  fields.subject = "Order 17";
  CoverDetailsDlg dialog(fields);
  EXPECT_EQ(dialog.SubjectEdit()->text(), "Order 17");
  ModalScript script;
  script.On("CoverDetailsDlg186", [&](QWidget* w) {
    dialog.SubjectEdit()->setText("Order 18");
    dialog.NoteEdit()->setPlainText("Two lines\nof note");
    Screenshot(w, "cover_details_dlg");
    ClickLater(dialog.BackButton());
  });
  EXPECT_EQ(dialog.exec(), kResultBack);
  EXPECT_EQ(fields.subject, "Order 18");
  EXPECT_EQ(fields.note, "Two lines\nof note");
}

TEST_F(SendDialogsTest, AttachmentListNeedsAnEntryForNextButNotForBack) {
  EXPECT_EQ(AttachmentFilters().value(0), "All (*.*)");
  EXPECT_TRUE(AttachmentFilters().contains("Tiff File (*.tif *.tiff)"));
  EXPECT_TRUE(AttachmentFilters().contains("Text File (*.txt *.md)"));
  EXPECT_TRUE(AttachmentFilters().contains("PDF File (*.pdf)"));

  SendFields fields;
  fields.sources = {"/tmp/old.tif"};
  CAttachDlg dialog(fields, nullptr);
  ASSERT_EQ(dialog.List()->count(), 1);
  dialog.SetAskFiles([] { return QStringList{"/tmp/a.txt", "/tmp/b.tif"}; });
  ModalScript script;
  script
      .On("CAttachDlg177",
          [&](QWidget*) {
            dialog.List()->clearSelection();
            ClickLater(dialog.RemoveButton());  // nothing chosen
          })
      .Box()
      .On("CAttachDlg177",
          [&](QWidget*) {
            dialog.List()->setCurrentRow(0);
            dialog.RemoveButton()->click();
            ClickLater(dialog.NextButton());  // the list is empty now
          })
      .Box()
      .On("CAttachDlg177", [&](QWidget* w) {
        dialog.AddButton()->click();
        Screenshot(w, "attach_dlg");
        ClickLater(dialog.NextButton());
      });
  EXPECT_EQ(dialog.exec(), kResultNext);
  EXPECT_EQ(script.boxes, (QStringList{ResString(65085), ResString(65086)}));
  EXPECT_EQ(fields.sources, (std::vector<std::string>{"/tmp/a.txt", "/tmp/b.tif"}));

  // Back with an empty list is taken and empties the sources.
  CAttachDlg back(fields, nullptr);
  ModalScript backScript;
  backScript.On("CAttachDlg177", [&](QWidget*) {
    back.List()->clear();
    ClickLater(back.BackButton());
  });
  EXPECT_EQ(back.exec(), kResultBack);
  EXPECT_TRUE(backScript.boxes.isEmpty());
  EXPECT_TRUE(fields.sources.empty());
}

TEST_F(SendDialogsTest, NewTextIsSavedAsUtf16WithByteOrderMarkAndAttached) {
  SendFields fields;
  CAttachDlg dialog(fields, nullptr);
  const fs::path saved = home.path() / "memo.txt";
  int asked = 0;
  dialog.SetEditorHook([&](TxtEditor& editor) {
    editor.SetAskSavePath([&]() -> QString {
      // The first time the user cancels the save-file dialog.
      return ++asked == 1 ? QString() : QString::fromStdString(saved.string());
    });
  });
  // "Grüße 😀" and a line break: a two-byte and a surrogate-pair character.
  const QString text = QString::fromUtf8(
      "Gr\xC3\xBC\xC3\x9F"
      "e \xF0\x9F\x98\x80\nline 2");
  ModalScript script;
  script.On("CAttachDlg177", [&](QWidget*) { ClickLater(dialog.NewTextButton()); })
      .On("TxtEditor",
          [&](QWidget* w) {
            w->findChild<QPlainTextEdit*>()->setPlainText(text);
            Screenshot(w, "txt_editor");
            ClickLater(ButtonNamed(w, kOk));
          })
      .Box(QMessageBox::No)  // not thrown away: back to the text
      .On("TxtEditor", [&](QWidget* w) { ClickLater(ButtonNamed(w, kOk)); })
      .On("CAttachDlg177", [&](QWidget*) { ClickLater(dialog.NextButton()); });
  EXPECT_EQ(dialog.exec(), kResultNext);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(script.boxes, QStringList{ResString(65528)});
  ASSERT_EQ(fields.sources, std::vector<std::string>{saved.string()});
  const std::string bytes = vexo::test::ReadFileBytes(saved);
  std::string expected = "\xFF\xFE";
  for (char16_t unit : text.toStdU16String()) {
    expected += static_cast<char>(unit & 0xFF);
    expected += static_cast<char>(unit >> 8);
  }
  EXPECT_EQ(bytes, expected);  // no terminator after the text
}

TEST_F(SendDialogsTest, TextEditorEmptyTextThrowAwayAndUnwritableFile) {
  {  // An empty text closes with Cancel without asking for a file.
    TxtEditor editor;
    bool asked = false;
    editor.SetAskSavePath([&] {
      asked = true;
      return QString("/tmp/x.txt");
    });
    ModalScript script;
    script.On("TxtEditor", [&](QWidget* w) { ClickLater(ButtonNamed(w, kOk)); });
    EXPECT_EQ(editor.exec(), QDialog::Rejected);
    EXPECT_FALSE(asked);
  }
  {  // Save cancelled, then Yes: the text is thrown away.
    TxtEditor editor;
    editor.SetAskSavePath([] { return QString(); });
    ModalScript script;
    script
        .On("TxtEditor",
            [&](QWidget* w) {
              editor.Editor()->setPlainText("draft");
              ClickLater(ButtonNamed(w, kOk));
            })
        .Box(QMessageBox::Yes);
    EXPECT_EQ(editor.exec(), QDialog::Rejected);
    EXPECT_TRUE(script.Finished());
  }
  {  // A file that cannot be made: reported, shown, Cancel; nothing attached.
    const fs::path bad = home.path() / "missing" / "memo.txt";
    TxtEditor editor;
    editor.SetAskSavePath([&] { return QString::fromStdString(bad.string()); });
    ModalScript script;
    script
        .On("TxtEditor",
            [&](QWidget* w) {
              editor.Editor()->setPlainText("text");
              ClickLater(ButtonNamed(w, kOk));
            })
        .Error();
    EXPECT_EQ(editor.exec(), QDialog::Rejected);
    ASSERT_EQ(script.errors.size(), 1);
    EXPECT_TRUE(script.errors[0].contains("TxtEditor")) << script.errors[0].toStdString();
    EXPECT_TRUE(script.errors[0].contains(QString::fromStdString(
        "Fail to create new text file [filename=" + bad.string() + "], ErrMsg = No such file")))
        << script.errors[0].toStdString();
    EXPECT_FALSE(fs::exists(bad));
  }
}

TEST_F(SendDialogsTest, ConversionOfCoverTextAndForeignScanGivesNumberedFaxPages) {
  const fs::path text = home.path() / "letter.TXT";  // upper case is still text
  WriteText(text, "Dear Anne,\n\nthe parts are ready.\n");
  const fs::path scan = home.path() / "scan.tif";
  WriteForeignTiff(scan, 1700, 400, 200, 2);
  SendFields fields;
  fields.recipient = "Anne Baker";
  fields.number = "555 0101";
  fields.coverName = "business.txt";
  fields.subject = "Parts";
  ConvFileDlg dialog(context, fields, {text.string(), scan.string()});
  ModalScript script;  // nothing to answer: it closes by itself
  EXPECT_EQ(dialog.exec(), kResultNext);
  EXPECT_TRUE(script.boxes.isEmpty());
  EXPECT_TRUE(script.errors.isEmpty());
  ASSERT_EQ(fields.generatedFile, (dataDir / "QXTEST1.tif").string());
  const std::vector<FaxPage> pages = ReadFaxPages(fields.generatedFile);
  ASSERT_EQ(pages.size(), 4u);  // cover, text, two scanned pages
  EXPECT_EQ(fields.pages, 4u);
  EXPECT_EQ(fields.bytes, fs::file_size(fields.generatedFile));
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(pages[i].width, 1728u);
    EXPECT_EQ(pages[i].pageNumber, i);
    EXPECT_EQ(pages[i].pageTotal, 4u);
  }
  EXPECT_GT(dialog.ProgressUpdates(), 0);
  EXPECT_EQ(dialog.Progress()->value(), dialog.Progress()->maximum());
}

TEST_F(SendDialogsTest, CancelledConversionGoesBackAndLeavesNoFile) {
  const fs::path text = home.path() / "long.txt";
  std::string body;
  for (int line = 0; line < 6000; ++line)
    body += "Line " + std::to_string(line) + " of a long text that fills many fax pages.\n";
  WriteText(text, body);
  SendFields fields;
  ConvFileDlg dialog(context, fields, {text.string()});
  ModalScript script;
  script.On("ConvFileDlg155", [&](QWidget* w) {
    // Cancel once the bar has moved, while pages are being made.
    while (dialog.ProgressUpdates() == 0 && dialog.isVisible())
      QApplication::processEvents(QEventLoop::AllEvents, 5);
    Screenshot(w, "conv_file_dlg");
    ClickLater(dialog.CancelButton());
  });
  EXPECT_EQ(dialog.exec(), kResultBack);
  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(script.errors.isEmpty());
  EXPECT_TRUE(fields.generatedFile.empty());
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(SendDialogsTest, FailedConversionShowsTheReasonsAndLeavesNoFile) {
  const fs::path doc = home.path() / "minutes.doc";  // not a TIFF: fails as one
  WriteText(doc, "not a picture");
  SendFields fields;
  ConvFileDlg dialog(context, fields, {doc.string()});
  ModalScript script;
  script.Error();
  EXPECT_EQ(dialog.exec(), kResultCancel);
  ASSERT_EQ(script.errors.size(), 1);
  EXPECT_TRUE(script.errors[0].contains("minutes.doc")) << script.errors[0].toStdString();
  EXPECT_TRUE(fields.generatedFile.empty());
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(SendDialogsTest, NothingToConvertAsksAndCancelGoesBack) {
  const fs::path empty = home.path() / "empty.txt";
  WriteText(empty, "");
  SendFields fields;
  ConvFileDlg dialog(context, fields, {empty.string()});
  ModalScript script;
  script.Box(QMessageBox::Cancel);
  EXPECT_EQ(dialog.exec(), kResultBack);
  EXPECT_EQ(script.boxes, QStringList{ResString(65087)});
  EXPECT_EQ(fileCounter, 0);  // no file was even named
  EXPECT_TRUE(DataFiles().empty());

  // Going on anyway makes no pages: the conversion fails with a reason.
  ConvFileDlg anyway(context, fields, {empty.string()});
  ModalScript goOn;
  goOn.Box(QMessageBox::Ok).Error();
  EXPECT_EQ(anyway.exec(), kResultCancel);
  EXPECT_TRUE(goOn.Finished()) << goOn.windows.join(",").toStdString();
  ASSERT_EQ(goOn.errors.size(), 1);
  EXPECT_TRUE(goOn.errors[0].contains("no fax page")) << goOn.errors[0].toStdString();
  EXPECT_TRUE(fields.generatedFile.empty());
  EXPECT_TRUE(DataFiles().empty());
}

TEST_F(SendDialogsTest, SummaryFilesTheComposedFaxIntoTheInbox) {
  SendFields fields;
  fields.recipient = "Anne Baker";
  fields.number = "555 0101";
  fields.note = "Call back";
  fields.generatedFile = (dataDir / "QXTEST9.tif").string();
  fields.pages = 3;
  settings.T2TQuality = 1;
  SummaryDlg dialog(context, fields);
  EXPECT_TRUE(dialog.SummaryText().contains("Anne Baker"));
  EXPECT_TRUE(dialog.SummaryText().contains("555 0101"));
  EXPECT_TRUE(dialog.SummaryText().contains("Pages: 3"));
  QStringList commands;
  for (QAction* action : dialog.FileButton()->menu()->actions()) commands << action->text();
  EXPECT_EQ(commands, (QStringList{ResString(65019), ResString(65020), ResString(65021)}));
  ModalScript script;
  script.On("SummaryDlg156", [&](QWidget* w) {
    Screenshot(w, "summary_dlg");
    QAction* inbox = dialog.FileButton()->menu()->actions().at(1);
    QMetaObject::invokeMethod(inbox, &QAction::trigger, Qt::QueuedConnection);
  });
  EXPECT_EQ(dialog.exec(), kResultFiled);
  const std::vector<FaxRecord> inbox = Records(2);
  ASSERT_EQ(inbox.size(), 1u);
  EXPECT_TRUE(Records(0).empty());
  const FaxRecord& r = inbox[0];
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.contact, "Anne Baker");
  EXPECT_EQ(r.telephone, "555 0101");
  EXPECT_EQ(r.fileName, "QXTEST9.tif");
  EXPECT_EQ(r.pages, 3);
  EXPECT_EQ(r.resolution, 1);
  EXPECT_EQ(r.noteFlag, 1);
  EXPECT_EQ(r.note, "Call back");
  ASSERT_EQ(filed.size(), 1u);
  EXPECT_EQ(filed[0].first, 2);
}

TEST_F(SendDialogsTest, SummaryStaysOpenWhenTheStoreRefuses) {
  SendFields fields;
  fields.generatedFile = (dataDir / "QXTEST9.tif").string();
  context.store = nullptr;
  SummaryDlg dialog(context, fields);
  ModalScript script;
  script
      .On("SummaryDlg156",
          [&](QWidget*) {
            QMetaObject::invokeMethod(dialog.FileButton()->menu()->actions().at(0),
                                      &QAction::trigger, Qt::QueuedConnection);
          })
      .Error()
      .On("SummaryDlg156", [&](QWidget*) { ClickLater(dialog.CancelButton()); });
  EXPECT_EQ(dialog.exec(), kResultCancel);
  EXPECT_EQ(script.errors.size(), 1);
  EXPECT_TRUE(filed.empty());
}

QStringList ListedNames(ContactListDlg& picker) {
  QStringList names;
  for (int i = 0; i < picker.List()->topLevelItemCount(); ++i)
    names << picker.List()->topLevelItem(i)->text(0);
  return names;
}

QStringList DetailLines(QWidget* details) {
  QStringList lines;
  auto* list = details->findChild<QListWidget*>();
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

void ChooseContact(ContactListDlg& picker, const QString& fileAs) {
  const auto found = picker.List()->findItems(fileAs, Qt::MatchExactly, 0);
  ASSERT_EQ(found.size(), 1) << fileAs.toStdString();
  picker.List()->setCurrentItem(found[0]);
}

TEST_F(SendDialogsTest, PickerListsByFileAsAndReturnsTheChosenNumber) {
  ContactListDlg picker;
  ASSERT_TRUE(picker.Initialize(kContacts / "outlook21.vcf"));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  QStringList listed, lines;
  ModalScript script;
  script
      .On("ContactListDlg",
          [&](QWidget* w) {
            listed = ListedNames(picker);
            EXPECT_EQ(picker.List()->currentItem(), nullptr);  // nothing chosen before
            ChooseContact(picker, QString::fromUtf8("M\xC3\xBCller, J\xC3\xBCrgen"));
            Screenshot(w, "contact_list_dlg");
            ClickLater(ButtonNamed(w, kOk));
          })
      .On("DetailListDlg", [&](QWidget* w) {
        lines = DetailLines(w);
        Screenshot(w, "detail_list_dlg");
        w->findChild<QListWidget*>()->setCurrentRow(2);
        ClickLater(ButtonNamed(w, kOk));
      });
  EXPECT_EQ(picker.Run(), kResultOk);
  EXPECT_EQ(listed,
            (QStringList{"Baker, Anne", QString::fromUtf8("M\xC3\xBCller, J\xC3\xBCrgen")}));
  EXPECT_EQ(lines, (QStringList{"Business Tel1: +49 40 1234-0", "Business Tel2: +49 40 1234-11",
                                "Business Fax: +49 40 1234-99", "Home Tel1: 040 555 12",
                                "Car Tel: 0172 999", "Mobile: 0171 2345678"}));
  EXPECT_EQ(picker.ChosenName(), QString::fromUtf8("J\xC3\xBCrgen M\xC3\xBCller"));
  EXPECT_EQ(picker.ChosenNumber(), "+49 40 1234-99");
  EXPECT_EQ(picker.ChosenKind(), 2);

  // The next opening selects the contact chosen before; Cancel keeps the choice.
  QString selected;
  ModalScript again;
  again.On("ContactListDlg", [&](QWidget* w) {
    selected = picker.List()->currentItem() ? picker.List()->currentItem()->text(0) : QString();
    ClickLater(ButtonNamed(w, kCancel));
  });
  EXPECT_EQ(picker.Run(), kResultCancel);
  EXPECT_EQ(selected, QString::fromUtf8("M\xC3\xBCller, J\xC3\xBCrgen"));
}

TEST_F(SendDialogsTest, PickerContactWithoutNumbersGivesTheNameAndAnEmptyNumber) {
  ContactListDlg picker;
  ASSERT_TRUE(picker.Initialize(kContacts / "vcard40.vcf"));
  QStringList listed, lines{"not read"};
  ModalScript script;
  script
      .On("ContactListDlg",
          [&](QWidget* w) {
            listed = ListedNames(picker);
            ChooseContact(picker, "Numbers, No");
            ClickLater(ButtonNamed(w, kOk));
          })
      .On("DetailListDlg", [&](QWidget* w) {
        lines = DetailLines(w);
        ClickLater(ButtonNamed(w, kOk));
      });
  EXPECT_EQ(picker.Run(), kResultOk);
  EXPECT_EQ(listed, (QStringList{QString::fromUtf8("Adams, Zo\xC3\xAB"), "Numbers, No"}));
  EXPECT_TRUE(lines.isEmpty());
  EXPECT_EQ(picker.ChosenName(), "No Numbers");
  EXPECT_EQ(picker.ChosenNumber(), "");
  EXPECT_EQ(picker.ChosenKind(), -1);
}

TEST_F(SendDialogsTest, PickerShowsWhatADamagedBookHeldAndAnEmptyBookAsEmpty) {
  ContactListDlg damaged;
  ASSERT_TRUE(damaged.Initialize(kContacts / "broken.vcf"));
  EXPECT_GT(ErrorPool::Instance().Count(), 0);  // reported for the send dialog to show
  ErrorPool::Instance().Clear();
  QStringList listed;
  ModalScript script;
  script.On("ContactListDlg", [&](QWidget* w) {
    listed = ListedNames(damaged);
    EXPECT_FALSE(damaged.EmptyNote()->isVisible());
    ClickLater(ButtonNamed(w, kCancel));
  });
  EXPECT_EQ(damaged.Run(), kResultCancel);
  EXPECT_EQ(listed, (QStringList{"Good, First", "Second, Half", "Truncated, Last"}));

  ContactListDlg empty;
  ASSERT_TRUE(empty.Initialize(kContacts / "empty.vcf"));
  EXPECT_EQ(ErrorPool::Instance().Count(), 0);
  int rows = -1;
  ModalScript emptyScript;
  emptyScript.On("ContactListDlg", [&](QWidget* w) {
    rows = empty.List()->topLevelItemCount();
    EXPECT_TRUE(empty.EmptyNote()->isVisible());
    Screenshot(w, "contact_list_dlg_empty");
    ButtonNamed(w, kOk)->click();  // nothing to choose: stays open
    ClickLater(ButtonNamed(w, kCancel));
  });
  EXPECT_EQ(empty.Run(), kResultCancel);
  EXPECT_EQ(rows, 0);
}

}  // namespace
}  // namespace vexo::ui::test

namespace vexo::ui::test {
namespace {

TEST_F(SendDialogsTest, DialogsInSimplifiedChineseArePictured) {
  ASSERT_TRUE(LoadResDll("ChsRes"));
  SendFields fields;
  fields.recipient = "Anne Baker";
  fields.number = "555 0101";
  fields.pages = 2;
  SendDlg send(SendDlg::Form::NewFax, fields, coverDir, nullptr);
  send.show();
  Screenshot(&send, "send_dlg_chs");
  EXPECT_EQ(send.NextButton()->text(), ResString(65508));
  SummaryDlg summary(context, fields);
  summary.show();
  Screenshot(&summary, "summary_dlg_chs");
  EXPECT_TRUE(summary.SummaryText().contains("555 0101"));
  CAttachDlg attach(fields, nullptr);
  attach.show();
  Screenshot(&attach, "attach_dlg_chs");
  ASSERT_TRUE(LoadResDll("EngRes"));
}

}  // namespace
}  // namespace vexo::ui::test
