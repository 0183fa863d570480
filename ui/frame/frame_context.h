// What the main window needs from the rest of the program: the settings, the
// system log, the job control, the record store and the fax jobs. The program's
// start-up fills it from AppOper; the widget tests fill it with a store and a
// home of their own. Every hook may be left empty: the command it serves then
// does nothing.
#pragma once

#include <QString>

#include <filesystem>
#include <functional>
#include <string>

#include "app/store/fax_record.h"

class QWidget;

namespace vexo {
struct AppSettings;
class DBFunc;
class JobControl;
class LogFile;
class Outbox;
}  // namespace vexo

namespace vexo::ui {

struct SendContext;
struct SendFields;
class StatusWindow;

// Whether the chosen modem can wait for a call.
enum class ReceiveReadiness {
  Ready,
  AutomaticChoice,  // ModemName is set and names no modem: every modem in turn
  CannotReceive,    // the chosen modem cannot take calls
};

struct FrameContext {
  AppSettings* settings = nullptr;  // OpenedDatabase, SortOnColumn, SortDirection, TIFDataDir
  LogFile* systemLog = nullptr;     // may be null
  JobControl* job = nullptr;
  // The record store, created on first use (null when it cannot be had; the
  // error pool then says why).
  std::function<DBFunc*()> store;

  // ---- the fax jobs ----
  // The device the status window names in its title for a job of this kind.
  std::function<QString(bool send)> jobDevice;
  // Receive: whether the chosen modem can take a call, and its name.
  std::function<ReceiveReadiness()> receiveReadiness;
  // Runs on the job thread: the wait for a ring and the receive; the result.
  std::function<int()> runReceive;
  // Interface thread, before a receive job: how many rings it lets pass
  // before answering (1 for the Receive command, AutoAnswer when automatic).
  std::function<void(unsigned rings)> setRingsToAnswer;
  // Any thread: whether the running job is in its wait for a ring (the port
  // being opened or the wait itself), so that cancelling it cuts no call off.
  std::function<bool()> inWaitForRing;
  // Lends the modem to sends of other programs of the home while on: such a
  // send cancels a wait that has no call yet.
  std::function<void(bool on)> lendModem;
  // Whether a send of another program holds the modem lent to it.
  std::function<bool()> modemLent;
  // Interface thread, before a send job: takes the composed fax as the job's input.
  std::function<void(const SendFields& fields)> prepareSend;
  // Runs on the job thread: the send of the prepared fax; the result.
  std::function<int()> runSend;
  // Interface thread, after a job: the outcome messages.
  std::function<void(bool send, int result)> showOutcome;
  // A new unused file in TIFDataDir for a composed fax; empty when none.
  std::function<std::string()> newFaxFile;
  // The send dialogs' context over the main window's status window; when
  // empty the main window builds one from the hooks above.
  std::function<SendContext(StatusWindow& status)> sendContext;
  // The outbox over the record store, its calls made with the job control
  // above; null when the store cannot be had. While the window is open it
  // sends the queued faxes that are due.
  std::function<Outbox*()> outbox;

  // ---- the other windows ----
  // The settings sheet, modal; true when it closed with OK.
  std::function<bool(QWidget* parent)> showSettings;
  // The page viewer for a record's fax file (full path).
  std::function<void(QWidget* parent, const std::filesystem::path& file)> showViewer;
  // The address book the send dialogs pick from; empty: the default one.
  std::filesystem::path contactsFile;
  // The help pages' directory; empty: the shipped resources' help/.
  std::filesystem::path helpDirectory;
  // Opens a help page; by default the desktop's browser. False when it failed.
  std::function<bool(const std::filesystem::path& page)> openHelp;
  // Asks for the file an exported PDF goes to; by default a save-file dialog.
  std::function<QString(QWidget* parent, const QString& suggested)> askPdfFile;
};

}  // namespace vexo::ui
