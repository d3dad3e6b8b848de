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

  // Displays named but not there: still a status, never an abort.
  struct Case {
    const char *display, *wayland, *platform;
  } cases[] = {
      {":97", nullptr, nullptr},          // no X server there
      {nullptr, "wayland-97", nullptr},   // no Wayland platform installed, or no compositor
      {nullptr, nullptr, "xcb"},          // asked for X without one
      {":97", nullptr, "xcb:foo=1"},
      {nullptr, nullptr, "wayland"},      // asked for Wayland without a compositor
  };
  for (const auto &c : cases) {
    auto put = [](const char *name, const char *value) {
      if (value != nullptr)
        setenv(name, value, 1);
      else
        unsetenv(name);
    };
    put("DISPLAY", c.display);
    put("WAYLAND_DISPLAY", c.wayland);
    put("QT_QPA_PLATFORM", c.platform);
    EXPECT_EQ(ActiveToolkit().OpenWindow(bundle->resources, "hvlsetup", "Dialog", &w),
              kErrNoDisplay)
        << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-") << " "
        << (c.platform ? c.platform : "-");
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
  }

  WorkingCopy table{MakeWorkingCopy()};
  testing::internal::CaptureStderr();
  EXPECT_EQ(create_hvlsetup(reinterpret_cast<HWND>(1), nullptr, nullptr, table.get(), 1), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Can't load Window. Err: -2103\n");
}

} // namespace
} // namespace hvl
