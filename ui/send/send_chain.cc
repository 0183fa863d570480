#include "ui/send/send_chain.h"

#include <filesystem>
#include <system_error>

#include "app/contacts/vcard.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "ui/send/attach_dlg.h"
#include "ui/send/contact_dlg.h"
#include "ui/send/conv_file_dlg.h"
#include "ui/send/send_dlg.h"
#include "ui/send/summary_dlg.h"

namespace vexo::ui {
namespace {

// One run of the chain: the steps in order, each dialog made anew from the
// fields, so going back shows what was entered.
class SendChain {
 public:
  SendChain(QWidget* parent, SendContext& context) : m_parent(parent), m_context(context) {}

  int NewFax(const SendRequest& request);
  int Forward(const FaxRecord& record);
  int Resend(const FaxRecord& record);

 private:
  enum class Step { Recipient, Details, Attachments, Convert, Summary };

  int Recipient(SendDlg::Form form);
  int Details();
  int Convert(std::vector<std::string> sources);
  bool FromRecord(const FaxRecord& record, const char* function);
  // Deletes the converted file the chain made, if any.
  void DropGenerated();
  int Start();
  ContactListDlg* Picker();

  QWidget* m_parent;
  SendContext& m_context;
  SendFields m_fields;
  std::string m_recordFile;  // the forwarded or re-sent record's file (full path)
  std::unique_ptr<ContactListDlg> m_picker;
  bool m_pickerTried = false;
};

ContactListDlg* SendChain::Picker() {
  if (!m_pickerTried) {
    m_pickerTried = true;
    auto picker = std::make_unique<ContactListDlg>(m_parent);
    const std::filesystem::path file =
        m_context.contactsFile.empty() ? ContactBook::DefaultPath() : m_context.contactsFile;
    const bool loaded = picker->Initialize(file);
    // A damaged book is used as far as it could be read; the reasons are shown.
    if (ErrorPool::Instance().Count() > 0) FlushErrorPool(m_context.systemLog, false);
    if (loaded) m_picker = std::move(picker);
  }
  return m_picker.get();
}

int SendChain::Recipient(SendDlg::Form form) {
  SendDlg dialog(form, m_fields, m_context.settings->CoverDir, Picker(), m_parent);
  return dialog.exec();
}

int SendChain::Details() {
  CoverDetailsDlg dialog(m_fields, m_parent);
  return dialog.exec();
}

int SendChain::Convert(std::vector<std::string> sources) {
  ConvFileDlg dialog(m_context, m_fields, std::move(sources), m_parent);
  return dialog.exec();
}

void SendChain::DropGenerated() {
  if (m_fields.generatedFile.empty()) return;
  std::error_code ec;
  std::filesystem::remove(m_fields.generatedFile, ec);
  m_fields.generatedFile.clear();
  m_fields.pages = 0;
  m_fields.bytes = 0;
}

int SendChain::Start() {
  if (!m_context.startSend || m_context.startSend(m_fields) != 1) return kResultCancel;
  return kResultSendNow;
}

int SendChain::NewFax(const SendRequest& request) {
  m_fields.recipient = request.record.contact.value_or("");
  m_fields.sources = request.attachments;
  Step step = Step::Recipient;
  for (;;) {
    const bool cover = !m_fields.coverName.empty();
    switch (step) {
      case Step::Recipient:
        if (Recipient(SendDlg::Form::NewFax) != kResultNext) return kResultCancel;
        step = !m_fields.coverName.empty() ? Step::Details : Step::Attachments;
        break;
      case Step::Details: {
        const int r = Details();
        if (r == kResultCancel) return kResultCancel;
        step = r == kResultBack ? Step::Recipient : Step::Attachments;
        break;
      }
      case Step::Attachments: {
        CAttachDlg dialog(m_fields, m_context.systemLog, m_parent);
        const int r = dialog.exec();
        if (r == kResultCancel) {
          m_fields.sources.clear();
          return kResultCancel;
        }
        step = r == kResultNext ? Step::Convert : cover ? Step::Details : Step::Recipient;
        break;
      }
      case Step::Convert: {
        const int r = Convert(m_fields.sources);
        if (r == kResultNext) {
          step = Step::Summary;
        } else if (r == kResultBack) {
          DropGenerated();
          step = Step::Attachments;
        } else {
          m_fields.sources.clear();
          DropGenerated();
          return kResultCancel;
        }
        break;
      }
      case Step::Summary: {
        SummaryDlg dialog(m_context, m_fields, m_parent);
        const int r = dialog.exec();
        if (r == kResultFiled) return kResultFiled;
        if (r == kResultSendNow) {
          if (Start() == kResultSendNow) return kResultSendNow;
          break;  // no job could start: the summary again, the fax kept
        }
        // Cancel or Back: no record names the converted file, so it goes.
        DropGenerated();
        if (r == kResultCancel) {
          m_fields.sources.clear();
          return kResultCancel;
        }
        step = Step::Attachments;
        break;
      }
    }
  }
}

bool SendChain::FromRecord(const FaxRecord& record, const char* function) {
  m_fields = {};
  m_fields.recipient = record.contact.value_or("");
  m_fields.number = record.telephone.value_or("");
  m_fields.note = record.note.value_or("");
  m_fields.pages = record.pages;
  const std::string name = record.fileName.value_or("");
  // A record's file lives in the data folder; a name with a folder part is
  // never opened.
  const std::filesystem::path path(name);
  if (name.empty() || path.has_parent_path() || name == "." || name == ".." ||
      name.find("..") != std::string::npos || name.find('\\') != std::string::npos) {
    ReportError(0, kMsgDefault, "SendDlg", function, "The fax file name [%s] is not valid.",
                name.c_str());
    FlushErrorPool(m_context.systemLog, false);
    return false;
  }
  m_recordFile = (std::filesystem::path(m_context.settings->TIFDataDir) / path).string();
  return true;
}

int SendChain::Forward(const FaxRecord& record) {
  if (!FromRecord(record, "Forward")) return kResultCancel;
  Step step = Step::Recipient;
  for (;;) {
    switch (step) {
      case Step::Recipient:
        if (Recipient(SendDlg::Form::Forward) != kResultNext) return kResultCancel;
        step = !m_fields.coverName.empty() ? Step::Details : Step::Convert;
        break;
      case Step::Details: {
        const int r = Details();
        if (r == kResultCancel) return kResultCancel;
        step = r == kResultBack ? Step::Recipient : Step::Convert;
        break;
      }
      case Step::Convert: {
        if (m_fields.coverName.empty()) {
          // Without a cover page the record's own file is sent as it is.
          m_fields.generatedFile = m_recordFile;
          const int r = Start();
          m_fields.generatedFile.clear();
          return r;
        }
        const int r = Convert({m_recordFile});
        if (r == kResultNext) {
          const int started = Start();
          if (started != kResultSendNow) DropGenerated();
          return started;
        }
        DropGenerated();
        if (r != kResultBack) return kResultCancel;
        step = Step::Details;
        break;
      }
      default:
        return kResultCancel;
    }
  }
}

int SendChain::Resend(const FaxRecord& record) {
  if (!FromRecord(record, "Resend")) return kResultCancel;
  m_fields.generatedFile = m_recordFile;
  return Start();
}

}  // namespace

int RunSendDialogChain(QWidget* parent, SendContext& context, const SendRequest& request) {
  if (!context.settings) return kResultCancel;
  SendChain chain(parent, context);
  switch (request.kind) {
    case SendKind::NewFax:
      return chain.NewFax(request);
    case SendKind::Forward:
      return chain.Forward(request.record);
    case SendKind::Resend:
      return chain.Resend(request.record);
  }
  return kResultCancel;
}

}  // namespace vexo::ui
