// The notification sound: Loudest.wav from the resources, played without
// waiting; silent where the system has no audio output.
#pragma once

namespace vexo::ui {

// Stops any sound playing, then plays the notification sound.
void PlayNotificationSound();
// Stops any sound playing.
void StopSound();

}  // namespace vexo::ui
