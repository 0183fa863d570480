#include "ui/common/sound.h"

#include <QApplication>
#include <QUrl>

#include "base/strings.h"

#ifdef VEXO_HAVE_QT_MULTIMEDIA
#include <QSoundEffect>
#endif

namespace vexo::ui {

#ifdef VEXO_HAVE_QT_MULTIMEDIA
namespace {

// One effect for the program, owned by the application object.
QSoundEffect* Effect() {
  static QSoundEffect* effect = [] {
    auto* made = new QSoundEffect(qApp);
    const auto file = ResourceDir() / "sound" / "Loudest.wav";
    made->setSource(QUrl::fromLocalFile(QString::fromStdString(file.string())));
    return made;
  }();
  return effect;
}

}  // namespace

void PlayNotificationSound() {
  QSoundEffect* effect = Effect();
  effect->stop();
  effect->play();
}

void StopSound() { Effect()->stop(); }
#else
void PlayNotificationSound() { QApplication::beep(); }
void StopSound() {}
#endif

}  // namespace vexo::ui
