// Without any display the front end refuses windows with a status instead of
// letting Qt abort the host, and the setup dialog takes its failure path.
#include <stdlib.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "dialogs/hvlsetup.h"
#include "temp_env.h"
#include "toolkit/platform.h"

namespace hvl {
namespace {

TEST(NoDisplay, OpeningAWindowFailsWithAStatus) {
  test::TempEnv env;
  for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
    unsetenv(name);
  SetBundleDirectory(HVL_BUNDLE_DIR);
  const Bundle *bundle = GetBundleWithIdentifier(kBundleIdentifier);
  ASSERT_NE(bundle, nullptr);
  WindowRef w = nullptr;
  EXPECT_EQ(ActiveToolkit().OpenWindow(bundle->resources, "hvlsetup", "Dialog", &w), kErrNoDisplay);
  EXPECT_EQ(w, nullptr);
  EXPECT_TRUE(FrontEndLoaded());
  EXPECT_EQ(QCoreApplication::instance(), nullptr);
  EXPECT_FALSE(ActiveToolkit().WaitNextEvent(1));

  // A display named but not there: still a status, not an abort.
  setenv("DISPLAY", ":97", 1);
  EXPECT_EQ(ActiveToolkit().OpenWindow(bundle->resources, "hvlsetup", "Dialog", &w), kErrNoDisplay);

  WorkingCopy table{MakeWorkingCopy()};
  testing::internal::CaptureStderr();
  EXPECT_EQ(create_hvlsetup(reinterpret_cast<HWND>(1), nullptr, nullptr, table.get(), 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't load Window. Err: -2103\n");
}

} // namespace
} // namespace hvl
