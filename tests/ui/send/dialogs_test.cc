// The send chain's dialogs one at a time, driven through their real windows
// the way a user clicks them: the recipient step, the attachments with the
// text editor, the conversion on its thread, the summary's filing and the
// contact picker over hand-made address books.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>

#include "base/error_pool.h"
#include "base/string_ids.h"
#include "base/strings.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/send/send_test_support.h"
#include "tests/ui/support/ui_test_support.h"
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

using str::kCancel;
using str::kOk;

using SendDialogsTest = SendTest;

TEST_F(SendDialogsTest, RecipientStepNeedsANumberAndStoresNameNumberAndCover) {
  SendFields fields;
  fields.coverName = "PLAIN.TXT";  // chosen before, another spelling
  SendDlg dialog(SendDlg::Form::NewFax, fields, coverDir, nullptr);
  QStringList covers;  // after "None", the templates of the cover folder
  for (int i = 1; i < dialog.CoverCombo()->count(); ++i) covers << dialog.CoverCombo()->itemText(i);
  EXPECT_EQ(covers, (QStringList{"business.txt", "chinese.txt", "plain.txt"}));
  EXPECT_EQ(dialog.CoverCombo()->currentText(), "plain.txt");

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
  EXPECT_EQ(script.boxes, QStringList{ResString(str::kNoFaxNumber)});
  EXPECT_EQ(fields.recipient, "Anne Baker");
  EXPECT_EQ(fields.number, "555 0101");
  EXPECT_EQ(fields.coverName, "business.txt");
  SendDlg forward(SendDlg::Form::Forward, fields, coverDir, nullptr);
  forward.show();
  Screenshot(&forward, "send_dlg_forward");
}

TEST_F(SendDialogsTest, AttachmentListNeedsAnEntryForNext) {
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
  EXPECT_EQ(script.boxes,
            (QStringList{ResString(str::kNoAttachmentChosen), ResString(str::kNoAttachments)}));
  EXPECT_EQ(fields.sources, (std::vector<std::string>{"/tmp/a.txt", "/tmp/b.tif"}));
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
            ClickLater(ButtonWithText(w, kOk));
          })
      .Box(QMessageBox::No)  // not thrown away: back to the text
      .On("TxtEditor", [&](QWidget* w) { ClickLater(ButtonWithText(w, kOk)); })
      .On("CAttachDlg177", [&](QWidget*) { ClickLater(dialog.NextButton()); });
  EXPECT_EQ(dialog.exec(), kResultNext);
  EXPECT_TRUE(script.Finished());
  EXPECT_EQ(script.boxes, QStringList{ResString(str::kAskDiscardText)});
  ASSERT_EQ(fields.sources, std::vector<std::string>{saved.string()});
  const std::string bytes = vexo::test::ReadFileBytes(saved);
  std::string expected = "\xFF\xFE";
  for (char16_t unit : text.toStdU16String()) {
    expected += static_cast<char>(unit & 0xFF);
    expected += static_cast<char>(unit >> 8);
  }
  EXPECT_EQ(bytes, expected);  // no terminator after the text
}

// An empty text closes without asking for a file; a cancelled save offers to
// throw the text away; a file that cannot be made is reported.
TEST_F(SendDialogsTest, TextEditorEmptyTextThrowAwayAndUnwritableFile) {
  const QString bad = QString::fromStdString((home.path() / "missing" / "memo.txt").string());
  // The text typed, what the save-file dialog gives (empty: cancelled), the
  // error reported (empty: none).
  const std::tuple<QString, QString, QString> cases[] = {
      {"", "/tmp/x.txt", ""},
      {"draft", "", ""},
      {"text", bad, "Fail to create new text file [filename=" + bad + "], ErrMsg = No such file"}};
  for (const auto& [text, savePath, error] : cases) {
    SCOPED_TRACE(text.toStdString());
    TxtEditor editor;
    int asked = 0;
    editor.SetAskSavePath([&, path = savePath] { return ++asked, path; });
    ModalScript script;
    script.On("TxtEditor", [&, typed = text](QWidget* w) {
      editor.Editor()->setPlainText(typed);
      ClickLater(ButtonWithText(w, kOk));
    });
    if (!text.isEmpty() && savePath.isEmpty()) script.Box(QMessageBox::Yes);  // thrown away
    if (!error.isEmpty()) script.Error();
    EXPECT_EQ(editor.exec(), QDialog::Rejected);
    EXPECT_TRUE(script.Finished());
    EXPECT_EQ(asked, text.isEmpty() ? 0 : 1);
    ASSERT_EQ(script.errors.size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty()) {
      EXPECT_TRUE(script.errors[0].contains(error)) << script.errors[0].toStdString();
    }
  }
  EXPECT_FALSE(fs::exists(bad.toStdString()));
}

TEST_F(SendDialogsTest, FailedOrEmptyConversionsLeaveNoFile) {
  vexo::test::WriteFileBytes(home.path() / "minutes.doc", "not a picture");  // fails as a TIFF
  vexo::test::WriteFileBytes(home.path() / "empty.txt", "");
  // The source, the answer to "nothing to convert" (NoButton: not asked), the
  // result and what the error dialog names (none: no error). Going on anyway
  // with an empty text makes no pages: the conversion fails with a reason.
  const std::tuple<const char*, QMessageBox::StandardButton, int, const char*> cases[] = {
      {"minutes.doc", QMessageBox::NoButton, kResultCancel, "minutes.doc"},
      {"empty.txt", QMessageBox::Cancel, kResultBack, nullptr},
      {"empty.txt", QMessageBox::Ok, kResultCancel, "no fax page"}};
  for (const auto& [source, answer, result, error] : cases) {
    SCOPED_TRACE(answer);
    SendFields fields;
    const int named = fileCounter;
    ConvFileDlg dialog(context, fields, {(home.path() / source).string()});
    ModalScript script;
    if (answer != QMessageBox::NoButton) script.Box(answer);
    if (error) script.Error();
    EXPECT_EQ(dialog.exec(), result);
    EXPECT_TRUE(script.Finished()) << script.windows.join(",").toStdString();
    EXPECT_EQ(script.boxes, answer == QMessageBox::NoButton
                                ? QStringList{}
                                : QStringList{ResString(str::kNothingToConvert)});
    ASSERT_EQ(script.errors.size(), error ? 1 : 0);
    if (error) {
      EXPECT_TRUE(script.errors[0].contains(error)) << script.errors[0].toStdString();
    }
    if (result == kResultBack) {
      EXPECT_EQ(fileCounter, named);  // no file was even named
    }
    EXPECT_TRUE(fields.generatedFile.empty());
    EXPECT_TRUE(DataFiles().empty());
  }
}

// The picker lists contacts by their File As name and gives the number chosen
// among the contact's numbers with its kind; the next opening selects the
// contact chosen before, and Cancel keeps that choice.
TEST_F(SendDialogsTest, PickerListsByFileAsAndReturnsTheChosenNumber) {
  const QString mueller = QString::fromUtf8("M\xC3\xBCller, J\xC3\xBCrgen");
  ContactListDlg picker;
  ASSERT_TRUE(picker.Initialize(kContacts / "outlook21.vcf"));
  QStringList listed, lines;
  ModalScript script;
  script
      .On("ContactListDlg",
          [&](QWidget* w) {
            for (int i = 0; i < picker.List()->topLevelItemCount(); ++i)
              listed << picker.List()->topLevelItem(i)->text(0);
            EXPECT_EQ(picker.List()->currentItem(), nullptr);  // nothing chosen before
            picker.List()->setCurrentItem(picker.List()->topLevelItem(1));
            Screenshot(w, "contact_list_dlg");
            ClickLater(ButtonWithText(w, kOk));
          })
      .On("DetailListDlg", [&](QWidget* w) {
        auto* list = w->findChild<QListWidget*>();
        for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
        Screenshot(w, "detail_list_dlg");
        list->setCurrentRow(2);
        ClickLater(ButtonWithText(w, kOk));
      });
  EXPECT_EQ(picker.Run(), kResultOk);
  EXPECT_EQ(listed, (QStringList{"Baker, Anne", mueller}));
  EXPECT_EQ(lines, (QStringList{"Business Tel1: +49 40 1234-0", "Business Tel2: +49 40 1234-11",
                                "Business Fax: +49 40 1234-99", "Home Tel1: 040 555 12",
                                "Car Tel: 0172 999", "Mobile: 0171 2345678"}));
  EXPECT_EQ(picker.ChosenName(), QString::fromUtf8("J\xC3\xBCrgen M\xC3\xBCller"));
  EXPECT_EQ(picker.ChosenNumber(), "+49 40 1234-99");
  EXPECT_EQ(picker.ChosenKind(), 2);

  QString selected;
  ModalScript again;
  again.On("ContactListDlg", [&](QWidget* w) {
    selected = picker.List()->currentItem() ? picker.List()->currentItem()->text(0) : QString();
    ClickLater(ButtonWithText(w, kCancel));
  });
  EXPECT_EQ(picker.Run(), kResultCancel);
  EXPECT_EQ(selected, mueller);
}

TEST_F(SendDialogsTest, DialogsInSimplifiedChineseArePictured) {
  ASSERT_TRUE(LoadResDll("ChsRes"));
  SendFields fields;
  fields.recipient = "Anne Baker";
  fields.number = "555 0101";
  fields.pages = 2;
  SendDlg send(SendDlg::Form::NewFax, fields, coverDir, nullptr);
  send.show();
  Screenshot(&send, "send_dlg_chs");
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
