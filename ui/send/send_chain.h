// The chain of send dialogs: recipient and cover page, cover page details,
// attachments, conversion into one fax file, and the summary that sends the
// fax or files it into a folder. The main window runs it for New fax, Forward
// and Re-send; what the chain needs from the rest of the program comes in a
// SendContext, so the dialogs can run without the main window.
#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/store/fax_record.h"

class QWidget;

namespace vexo {
struct AppSettings;
class DBFunc;
class LogFile;
}  // namespace vexo

namespace vexo::ui {

// Results of the chain's dialogs.
enum DialogResult : int {
  kResultOk = 1,
  kResultCancel = 2,
  kResultNext = 3,
  kResultBack = 5,
  kResultSendNow = 1022,
  kResultFiled = 1026,
};

// What the chain composes and keeps between its steps.
struct SendFields {
  std::string recipient;  // at most 127 characters
  std::string number;     // at most 63 characters
  std::string coverName;  // template file name in CoverDir; empty: no cover page
  std::string subject;
  std::string note;
  std::vector<std::string> sources;  // attachments, full paths, in order
  std::string generatedFile;         // full path of the converted fax; empty: none
  std::uint32_t pages = 0;           // pages of generatedFile
  std::uint64_t bytes = 0;
};

struct SendContext {
  const AppSettings* settings = nullptr;  // CoverDir, TIFDataDir, profile, paper
  LogFile* systemLog = nullptr;           // where flushed reports are logged; may be null
  // The store the summary files into; null: filing is refused with a report.
  DBFunc* store = nullptr;
  // The address book; empty: ContactBook::DefaultPath().
  std::filesystem::path contactsFile;
  // A new unused full path in TIFDataDir for the converted fax (the running
  // file number advanced and saved); empty when none can be had. The chain
  // never writes into an existing file.
  std::function<std::string()> newFaxFile;
  // Starts the send job of the composed fax through the status window; 1 when
  // it started. The job owns fields.generatedFile from then on.
  std::function<int(const SendFields& fields)> startSend;
  // Told after the composed fax was filed as a record into folder 0, 2 or 3.
  std::function<void(int folder, const FaxRecord& record)> filed;
};

enum class SendKind { NewFax, Forward, Resend };

struct SendRequest {
  SendKind kind = SendKind::NewFax;
  // Forward and Re-send: the selected record (its file relative to TIFDataDir).
  // New fax: its contact, if any, is the recipient offered.
  FaxRecord record;
  // New fax: the documents attached from the start (full paths).
  std::vector<std::string> attachments;
};

// Runs the chain modally over parent. Returns kResultSendNow when a send job
// was started, kResultFiled when the fax was filed without sending, or
// kResultCancel.
int RunSendDialogChain(QWidget* parent, SendContext& context, const SendRequest& request);

}  // namespace vexo::ui
