#include "ui/send/send_dlg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>
#include <system_error>

#include "base/presenter.h"
#include "base/string_ids.h"
#include "ui/common/ui_strings.h"
#include "ui/send/contact_dlg.h"

namespace vexo::ui {
namespace {

constexpr int kNameLimit = 127;
constexpr int kNumberLimit = 63;

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

bool HasTxtExtension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".txt";
}

}  // namespace

std::vector<std::string> CoverTemplates(const std::filesystem::path& coverDir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(coverDir, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (it->is_regular_file(ec) && HasTxtExtension(it->path()))
      names.push_back(it->path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

SendDlg::SendDlg(Form form, SendFields& fields, const std::filesystem::path& coverDir,
                 ContactListDlg* picker, QWidget* parent)
    : ChainDialog(ResString(form == Form::NewFax ? str::kNewFaxTitle : str::kForwardFaxTitle),
                  parent),
      m_fields(fields),
      m_picker(picker) {
  setObjectName(form == Form::NewFax ? "SendDlg113" : "SendDlg175");
  auto* grid = new QFormLayout;
  m_name = new QLineEdit(Utf8(fields.recipient).left(kNameLimit), this);
  m_name->setMaxLength(kNameLimit);
  m_number = new QLineEdit(Utf8(fields.number).left(kNumberLimit), this);
  m_number->setMaxLength(kNumberLimit);
  auto* nameRow = new QHBoxLayout;
  nameRow->addWidget(m_name, 1);
  m_contacts = new QPushButton(ResString(str::kSendContacts), this);
  m_contacts->setEnabled(picker != nullptr);
  nameRow->addWidget(m_contacts);
  grid->addRow(ResString(str::kSendRecipient), nameRow);
  grid->addRow(ResString(str::kSendFaxNumber), m_number);
  m_cover = new QComboBox(this);
  m_cover->addItem(ResString(str::kCoverNone));
  for (const std::string& name : CoverTemplates(coverDir)) {
    m_cover->addItem(Utf8(name));
    if (!fields.coverName.empty() &&
        Utf8(name).compare(Utf8(fields.coverName), Qt::CaseInsensitive) == 0)
      m_cover->setCurrentIndex(m_cover->count() - 1);
  }
  grid->addRow(ResString(str::kSendCoverPage), m_cover);
  Body()->addLayout(grid);
  BackButton()->setEnabled(false);  // the first step
  connect(m_contacts, &QPushButton::clicked, this, &SendDlg::PickContact);
  resize(420, sizeHint().height());
}

void SendDlg::PickContact() {
  if (!m_picker || m_picker->Run() != kResultOk) return;
  m_name->setText(m_picker->ChosenName().left(kNameLimit));
  m_number->setText(m_picker->ChosenNumber().left(kNumberLimit));
}

bool SendDlg::AcceptNext() {
  const QString number = m_number->text().trimmed();
  if (number.isEmpty()) {
    ShowMessage(MB_ICONEXCLAMATION, nullptr, str::kNoFaxNumber);
    m_number->setFocus();
    return false;
  }
  m_fields.recipient = m_name->text().trimmed().toStdString();
  m_fields.number = number.toStdString();
  m_fields.coverName =
      m_cover->currentIndex() <= 0 ? std::string() : m_cover->currentText().toStdString();
  return true;
}

CoverDetailsDlg::CoverDetailsDlg(SendFields& fields, QWidget* parent)
    : ChainDialog(ResString(str::kCoverDetailsTitle), parent), m_fields(fields) {
  setObjectName("CoverDetailsDlg186");
  auto* form = new QFormLayout;
  m_subject = new QLineEdit(Utf8(fields.subject), this);
  m_subject->setMaxLength(255);
  m_note = new QPlainTextEdit(Utf8(fields.note), this);
  form->addRow(ResString(str::kCoverSubject), m_subject);
  form->addRow(ResString(str::kCoverNote), m_note);
  Body()->addLayout(form);
  resize(420, 300);
}

void CoverDetailsDlg::Store() {
  m_fields.subject = m_subject->text().toStdString();
  m_fields.note = m_note->toPlainText().toStdString();
}

bool CoverDetailsDlg::AcceptNext() {
  Store();
  return true;
}

void CoverDetailsDlg::StoreForBack() { Store(); }

}  // namespace vexo::ui
