// The window tests need a QApplication; listing the tests needs one too, so
// the offscreen platform is the default when nothing else is asked for.
#include <QApplication>

#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
