// The last step of the send chain: the summary of the composed fax
// (str::kSummaryText with recipient, number and pages), Send Now, and File Into with the
// folders Sent, Inbox and Deleted for filing the fax without sending it.
#pragma once

#include "ui/send/chain_dialog.h"
#include "ui/send/send_chain.h"

class QLabel;
class QMenu;
class QToolButton;

namespace vexo::ui {

// Formats a table text with %s and %d conversions taken from args in order
// ("%%" is a percent sign); extra conversions stay as written.
QString FormatTableText(const QString& format, const QStringList& args);

// The record that files the composed fax: status 1, recipient, number, now,
// empty 105 to 107, the generated file's name, pages, the resolution the text
// quality gives, and the note.
FaxRecord ComposedFaxRecord(const SendFields& fields, const AppSettings& settings);

class SummaryDlg : public ChainDialog {
  Q_OBJECT
 public:
  SummaryDlg(const SendContext& context, const SendFields& fields, QWidget* parent = nullptr);
  QString SummaryText() const;
  QPushButton* SendNowButton() const { return m_sendNow; }
  QToolButton* FileButton() const { return m_file; }
  // Files into folder 0, 2 or 3 and closes with kResultFiled; stays open when
  // the store refused (the reasons shown).
  void FileInto(int folder);

 private:
  const SendContext& m_context;
  const SendFields& m_fields;
  QLabel* m_text = nullptr;
  QPushButton* m_sendNow = nullptr;
  QToolButton* m_file = nullptr;
};

}  // namespace vexo::ui
