// Entry point of the widget tests: one QApplication for the whole binary
// (widgets need it to exist before they are made), then GoogleTest.
#include <gtest/gtest.h>
#include <QApplication>

#include <cstdlib>

int main(int argc, char** argv) {
  // No display unless the caller chose a platform (Xvfb runs for screenshots).
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
