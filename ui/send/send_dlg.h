// The first steps of the send chain: SendDlg takes the recipient's name and
// fax number (typed or picked from the address book) and the cover page
// template; CoverDetailsDlg takes the cover page's subject and note.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "ui/send/chain_dialog.h"
#include "ui/send/send_chain.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;

namespace vexo::ui {

class ContactListDlg;

// The cover page templates: the "*.txt" files of coverDir, by name.
std::vector<std::string> CoverTemplates(const std::filesystem::path& coverDir);

class SendDlg : public ChainDialog {
  Q_OBJECT
 public:
  enum class Form { NewFax, Forward };
  // picker may be null (no contact button).
  SendDlg(Form form, SendFields& fields, const std::filesystem::path& coverDir,
          ContactListDlg* picker, QWidget* parent = nullptr);

  QLineEdit* NameEdit() const { return m_name; }
  QLineEdit* NumberEdit() const { return m_number; }
  QComboBox* CoverCombo() const { return m_cover; }
  QPushButton* ContactButton() const { return m_contacts; }

 private:
  bool AcceptNext() override;
  void PickContact();

  SendFields& m_fields;
  ContactListDlg* m_picker;
  QLineEdit* m_name = nullptr;
  QLineEdit* m_number = nullptr;
  QComboBox* m_cover = nullptr;
  QPushButton* m_contacts = nullptr;
};

class CoverDetailsDlg : public ChainDialog {
  Q_OBJECT
 public:
  CoverDetailsDlg(SendFields& fields, QWidget* parent = nullptr);
  QLineEdit* SubjectEdit() const { return m_subject; }
  QPlainTextEdit* NoteEdit() const { return m_note; }

 private:
  bool AcceptNext() override;
  void StoreForBack() override;
  void Store();

  SendFields& m_fields;
  QLineEdit* m_subject = nullptr;
  QPlainTextEdit* m_note = nullptr;
};

}  // namespace vexo::ui
