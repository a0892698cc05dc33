// Main of Velmora's GUI tests: offscreen only, a private network namespace, settings in a temporary folder.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

#include "app.h"
#include "lab/lab.h"

int main(int argc, char** argv) {
  // Never a window on a real display, whoever runs the binary.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Before any thread exists (Qt starts some).
  if (!lab::EnterPrivateNetns()) {
    std::fprintf(stderr, "warning: no private network namespace; tests share this machine's loopback\n");
  }
  CPelgrinApp app(argc, argv);
  QTemporaryDir settings;
  if (!settings.isValid()) return 1;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
