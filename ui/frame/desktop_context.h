// The main window joined to AppOper: the record store made on first use and
// handed to the jobs, the receive and send jobs through the status window, the
// outcome messages, the settings sheet and the page viewer.
#pragma once

#include <memory>

#include "ui/frame/frame_context.h"

namespace vexo {
class AppOper;
class Outbox;
}  // namespace vexo

namespace vexo::ui {

// The record store of the program, created the first time it is needed (the
// jobs then file into the same one), and the outbox over it. When the store
// cannot be made the error pool is flushed and the next use tries again.
class DesktopStore {
 public:
  explicit DesktopStore(AppOper& app);
  ~DesktopStore();
  DesktopStore(const DesktopStore&) = delete;
  DesktopStore& operator=(const DesktopStore&) = delete;
  DBFunc* Get();
  Outbox* GetOutbox();

 private:
  AppOper& m_app;
  std::unique_ptr<DBFunc> m_store;
  std::unique_ptr<Outbox> m_outbox;
};

// Whether the modem AppOper has chosen can wait for a call.
ReceiveReadiness ReceiveReadinessOf(const AppOper& app);

FrameContext DesktopFrameContext(AppOper& app, DesktopStore& store);

}  // namespace vexo::ui
