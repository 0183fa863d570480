// The presenter of the desktop program: message boxes and the error detail
// dialog as Qt windows. It may be called from any thread; the window is always
// shown on the thread of the QApplication, and a call from another thread waits
// for the answer.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "base/presenter.h"

namespace vexo::ui {

class QtPresenter : public QObject, public Presenter {
  Q_OBJECT
 public:
  // Owner of the windows shown (the main window), may be null.
  explicit QtPresenter(QWidget* owner = nullptr);
  ~QtPresenter() override;
  void SetOwner(QWidget* owner) { m_owner = owner; }

  int MessageBox(std::string_view text, const std::optional<std::string>& caption,
                 unsigned style) override;
  void ShowErrorDetails(std::string_view text) override;

 private:
  int ShowBox(const QString& text, const QString& caption, bool hasCaption, unsigned style);
  void ShowDetails(const QString& text);
  QPointer<QWidget> m_owner;
};

// Installs a Qt presenter as the current one for its lifetime, and puts the
// console presenter back when it goes.
class ScopedQtPresenter {
 public:
  explicit ScopedQtPresenter(QWidget* owner = nullptr);
  ~ScopedQtPresenter();
  ScopedQtPresenter(const ScopedQtPresenter&) = delete;
  ScopedQtPresenter& operator=(const ScopedQtPresenter&) = delete;
  QtPresenter& Get() { return m_presenter; }

 private:
  QtPresenter m_presenter;
};

}  // namespace vexo::ui
