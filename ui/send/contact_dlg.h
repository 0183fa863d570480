// The contact picker: ContactListDlg lists the address book's contacts by
// file-as name with a second column (organisation or e-mail); choosing one
// opens DetailListDlg with the contact's numbers under their labels, and the
// chosen number with the contact's name goes back to the send dialog. The
// contact chosen last is selected again at the next opening.
#pragma once

#include <QDialog>

#include <array>
#include <filesystem>
#include <string>

#include "app/contacts/vcard.h"

class QLabel;
class QListWidget;
class QTreeWidget;

namespace vexo::ui {

// The nine number labels in detail-list order (string table, else English).
std::array<QString, kNumberKinds> NumberLabels();

class DetailListDlg : public QDialog {
  Q_OBJECT
 public:
  DetailListDlg(const Contact& contact, const std::array<QString, kNumberKinds>& labels,
                QWidget* parent = nullptr);
  QListWidget* List() const { return m_list; }
  // The chosen number kind after OK, -1 when no line was chosen.
  int ChosenKind() const { return m_kind; }

 private:
  void accept() override;
  QListWidget* m_list = nullptr;
  int m_kind = -1;
};

class ContactListDlg : public QDialog {
  Q_OBJECT
 public:
  explicit ContactListDlg(QWidget* parent = nullptr);

  // Reads the address book (once). False when it cannot be read: the reasons
  // are in the error pool. A damaged book loads what could be read (reported).
  bool Initialize(const std::filesystem::path& file);
  // Runs the picker; kResultOk with ChosenName/ChosenNumber, or kResultCancel.
  int Run();

  QString ChosenName() const { return m_name; }
  QString ChosenNumber() const { return m_number; }
  int ChosenKind() const { return m_kind; }
  QTreeWidget* List() const { return m_list; }
  // The line that says the address book is empty (shown only then).
  QLabel* EmptyNote() const { return m_emptyNote; }
  // The detail dialog while it is open (for the tests), else null.
  DetailListDlg* OpenDetails() const { return m_details; }

 private:
  void Fill();
  void ChooseCurrent();

  ContactBook m_book;
  bool m_initialized = false;
  std::array<QString, kNumberKinds> m_labels;
  QTreeWidget* m_list = nullptr;
  QLabel* m_emptyNote = nullptr;
  std::string m_lastId;  // the contact chosen last time
  QString m_name;
  QString m_number;
  int m_kind = -1;
  DetailListDlg* m_details = nullptr;
};

}  // namespace vexo::ui
