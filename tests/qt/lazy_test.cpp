// The setup library maps no GUI library until a window opens: calls that
// show nothing leave Qt out of the process.
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "dialogs/hvlsetup.h"
#include "dialogs/providers.h"
#include "temp_env.h"
#include "toolkit/platform.h"

namespace hvl {
namespace {

bool QtMapped() {
  std::ifstream maps("/proc/self/maps");
  std::stringstream s;
  s << maps.rdbuf();
  return s.str().find("libQt6") != std::string::npos;
}

TEST(FrontEnd, LoadedOnlyWhenAWindowIsWanted) {
  test::TempEnv env;
  SetBundleDirectory(HVL_BUNDLE_DIR);
  ASSERT_FALSE(QtMapped());

  WorkingCopy table{MakeWorkingCopy()};
  EXPECT_EQ(create_hvlsetup(nullptr, nullptr, nullptr, table.get(), 1), 1);
  ProviderList list;
  EXPECT_EQ(OpenOrMakePrefsFile(&list), 1);
  EXPECT_NE(GetBundleWithIdentifier(kBundleIdentifier), nullptr);
  EXPECT_FALSE(FrontEndLoaded());
  EXPECT_FALSE(QtMapped());

  // The first window brings the front end, and Qt with it.
  ActiveToolkit();
  EXPECT_TRUE(FrontEndLoaded());
  EXPECT_TRUE(QtMapped());
}

TEST(FrontEnd, AMissingPluginFailsWindowsWithAStatus) {
  // CTest runs every test in a process of its own; run together with the
  // test above, the front end is already there.
  if (FrontEndLoaded())
    GTEST_SKIP() << "the front end is loaded in this process already";
  test::TempEnv env;
  SetBundleDirectory(env.dir() + "/Empty.bundle");
  testing::internal::CaptureStderr();
  WindowRef w = nullptr;
  EXPECT_EQ(ActiveToolkit().OpenWindow("/x", "hvlsetup", "Dialog", &w), kErrNoFrontEnd);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("cannot load"), std::string::npos) << err;
  EXPECT_FALSE(FrontEndLoaded());
  EXPECT_EQ(ActiveToolkit().RunAlert(AlertDefinition{}), kErrNoFrontEnd);
}

} // namespace
} // namespace hvl
