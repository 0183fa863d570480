#include "ui/send/contact_dlg.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "base/string_ids.h"
#include "base/strings.h"
#include "ui/common/ui_strings.h"
#include "ui/send/send_chain.h"

namespace vexo::ui {
namespace {

QString Utf8(const std::string& text) { return QString::fromStdString(text); }

// OK and Cancel; OK runs onOk (the dialog's accept unless given).
template <typename Slot>
QDialogButtonBox* OkCancel(QDialog* dialog, Slot onOk) {
  auto* box = new QDialogButtonBox(dialog);
  box->addButton(ResString(str::kOk), QDialogButtonBox::AcceptRole);
  box->addButton(ResString(str::kCancel), QDialogButtonBox::RejectRole);
  QObject::connect(box, &QDialogButtonBox::accepted, dialog, onOk);
  QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return box;
}

}  // namespace

std::array<QString, kNumberKinds> NumberLabels() {
  struct Label {
    unsigned id;
    const char* fallback;
  };
  static constexpr std::array<Label, kNumberKinds> kLabels{{
      {str::kContactBusinessTel1, "Business Tel1:"},
      {str::kContactBusinessTel2, "Business Tel2:"},
      {str::kContactBusinessFax, "Business Fax:"},
      {str::kContactHomeTel1, "Home Tel1:"},
      {str::kContactHomeTel2, "Home Tel2:"},
      {str::kContactHomeFax, "Home Fax:"},
      {str::kContactCarTel, "Car Tel:"},
      {str::kContactMobile, "Mobile:"},
      {str::kContactAssistantTel, "Assistant Tel:"},
  }};
  std::array<QString, kNumberKinds> labels;
  for (std::size_t i = 0; i < kNumberKinds; ++i)
    labels[i] = HasResString(kLabels[i].id) ? ResString(kLabels[i].id)
                                            : QString::fromLatin1(kLabels[i].fallback);
  return labels;
}

DetailListDlg::DetailListDlg(const Contact& contact,
                             const std::array<QString, kNumberKinds>& labels, QWidget* parent)
    : QDialog(parent) {
  setObjectName("DetailListDlg");
  setWindowTitle(ResFormat(str::kContactNumbersTitle, Utf8(contact.name)));
  auto* layout = new QVBoxLayout(this);
  m_list = new QListWidget(this);
  for (std::size_t i = 0; i < kNumberKinds; ++i) {
    if (contact.numbers[i].empty()) continue;
    auto* item = new QListWidgetItem(labels[i] + " " + Utf8(contact.numbers[i]), m_list);
    item->setData(Qt::UserRole, static_cast<int>(i));
  }
  if (m_list->count() > 0) m_list->setCurrentRow(0);
  layout->addWidget(m_list);
  layout->addWidget(OkCancel(this, [this] { accept(); }));
  connect(m_list, &QListWidget::itemActivated, this, &DetailListDlg::accept);
  resize(320, 260);
}

void DetailListDlg::accept() {
  const QListWidgetItem* item = m_list->currentItem();
  m_kind = item ? item->data(Qt::UserRole).toInt() : -1;
  QDialog::accept();
}

ContactListDlg::ContactListDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("ContactListDlg");
  setWindowTitle(ResString(str::kContactsTitle));
  auto* layout = new QVBoxLayout(this);
  m_list = new QTreeWidget(this);
  m_list->setColumnCount(2);
  m_list->setHeaderLabels({ResString(str::kContactsName), ResString(str::kContactsCompany)});
  m_list->setRootIsDecorated(false);
  m_list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  layout->addWidget(m_list);
  m_emptyNote = new QLabel(ResString(str::kAddressBookEmpty), this);
  m_emptyNote->hide();
  layout->addWidget(m_emptyNote);
  // OK in the list shows the chosen contact's numbers.
  layout->addWidget(OkCancel(this, [this] { ChooseCurrent(); }));
  connect(m_list, &QTreeWidget::itemActivated, this, [this] { ChooseCurrent(); });
  resize(420, 360);
}

bool ContactListDlg::Initialize(const std::filesystem::path& file) {
  if (m_initialized) return true;
  if (!m_book.Load(file)) return false;
  m_labels = NumberLabels();
  m_initialized = true;
  return true;
}

void ContactListDlg::Fill() {
  m_list->clear();
  QTreeWidgetItem* select = nullptr;
  for (std::size_t i = 0; i < m_book.Count(); ++i) {
    const Contact& c = m_book.Item(i);
    auto* item = new QTreeWidgetItem(m_list, {Utf8(c.fileAs), Utf8(c.second)});
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
    if (!m_lastId.empty() && c.id == m_lastId) select = item;
  }
  m_emptyNote->setVisible(m_book.Count() == 0);
  m_list->setCurrentItem(select);
  if (select)
    m_list->scrollToItem(select);
  else
    m_list->clearSelection();
}

int ContactListDlg::Run() {
  Fill();
  return exec() == QDialog::Accepted ? kResultOk : kResultCancel;
}

void ContactListDlg::ChooseCurrent() {
  const QTreeWidgetItem* item = m_list->currentItem();
  if (!item) return;
  const Contact& c = m_book.Item(item->data(0, Qt::UserRole).toULongLong());
  DetailListDlg details(c, m_labels, this);
  m_details = &details;
  const int answer = details.exec();
  m_details = nullptr;
  if (answer != QDialog::Accepted) return;
  m_lastId = c.id;
  m_kind = details.ChosenKind();
  m_name = Utf8(c.name);
  m_number = m_kind >= 0 ? Utf8(c.numbers[static_cast<std::size_t>(m_kind)]) : QString();
  QDialog::accept();
}

}  // namespace vexo::ui
