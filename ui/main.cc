// vexofax, the desktop fax program: one instance per home (a second start
// passes on "-refreshlist" and ends), AppOper start-up (its failures shown as
// message boxes captioned "ERROR"), then the main window over the folder the
// settings name; with AutoAnswer set it then waits for calls. The settings
// are written back when AppOper ends. Qt's own texts follow the string table
// the start-up chose.
#include <QApplication>

#include "app/jobs/app_oper.h"
#include "app/jobs/list_refresh.h"
#include "app/settings/settings.h"
#include "base/error_pool.h"
#include "base/strings.h"
#include "ui/common/qt_presenter.h"
#include "ui/common/qt_translations.h"
#include "ui/common/status_window.h"
#include "ui/frame/desktop_context.h"
#include "ui/frame/icons.h"
#include "ui/frame/instance_server.h"
#include "ui/frame/main_frame.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  application.setApplicationName(QStringLiteral("vexofax"));
  application.setWindowIcon(vexo::ui::AppIcon());

  const auto home = vexo::HomeDirectoryFromEnvironment();
  const QString socketPath =
      home ? QString::fromStdString(vexo::ListRefreshSocketPath(*home)) : QString();
  if (!socketPath.isEmpty() &&
      vexo::ui::SignalRunningInstance(socketPath, QApplication::arguments())) {
    return 0;
  }

  vexo::ui::ScopedQtPresenter presenter;
  // Declared before AppOper, so that the boxes of its ending are translated too.
  vexo::ui::QtTranslations translations;
  vexo::AppOper app;
  const bool started = app.Startup();
  translations.Apply(vexo::LoadedResName());
  if (!started) {
    vexo::ShowErrorPoolBoxes("ERROR");
    return 1;
  }

  vexo::ui::DesktopStore store(app);
  vexo::ui::CMainFrame frame(vexo::ui::DesktopFrameContext(app, store));
  presenter.Get().SetOwner(&frame);
  app.SetFiledCallback(
      [&frame](int folder, const vexo::FaxRecord& record) { frame.RecordFiled(folder, record); });

  vexo::ui::InstanceServer server;
  QObject::connect(&server, &vexo::ui::InstanceServer::RefreshRequested, &frame,
                   &vexo::ui::CMainFrame::RefreshRequest);
  QObject::connect(&server, &vexo::ui::InstanceServer::NumberRequested, &frame,
                   &vexo::ui::CMainFrame::AskForNumber);
  const QString listenPath = QString::fromStdString(vexo::ListRefreshSocketPath(app.Home()));
  server.Listen(listenPath);

  frame.show();
  frame.ShowInitialFolder();
  frame.ApplyAutoAnswer();
  const int result = QApplication::exec();
  // A wait for a call (or a job) still running ends before the window goes.
  frame.Status().EndJobAtExit();
  app.SetFiledCallback(nullptr);
  return result;
}
