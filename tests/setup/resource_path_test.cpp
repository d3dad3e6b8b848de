#include <string>

#include <gtest/gtest.h>

#include "dialogs/resource_path.h"

namespace {

TEST(ResourcePath, FromExecutablePath) {
  struct Case {
    const char *what;
    std::string exe;
    bool ok;
    std::string path;
  } cases[] = {
      {"the bundle's executable",
       "/p/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/MacOS/Halvern Generic ODBC Driver",
       true,
       "/p/Library/ODBC/Halvern Generic ODBC Driver.bundle/Contents/Resources/Halvern Generic ODBC "
       "Driver.rsrc"},
      {"only one slash after the first byte: written after the first byte", "ab/c", true,
       "aResources/Halvern Generic ODBC Driver.rsrc"},
      {"a slash at the first byte only", "/abc", false, ""},
      {"no slash", "abc", false, ""},
      {"empty", "", false, ""},
      {"a trailing slash counts as the last one", "/x/MacOS/", true,
       "/x/Resources/Halvern Generic ODBC Driver.rsrc"},
  };
  for (const Case &c : cases) {
    char out[2048];
    ASSERT_EQ(hvl::ResourcePathFromExecutable(c.exe.c_str(), out, sizeof out), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(std::string(out), c.path) << c.what;
    }
  }
}

TEST(ResourcePath, BoundedBy2048Bytes) {
  char out[2048];
  // Fits before the change, not after: 2000 bytes of folders, a short name.
  std::string exe = "/" + std::string(2010, 'd') + "/MacOS/x";
  EXPECT_FALSE(hvl::ResourcePathFromExecutable(exe.c_str(), out, sizeof out));
  // Does not fit before.
  std::string longer = "/a/" + std::string(2046, 'n');
  EXPECT_FALSE(hvl::ResourcePathFromExecutable(longer.c_str(), out, sizeof out));
  // Just fits after the change: 2047 bytes and the terminator.
  std::string prefix = "/" + std::string(2047 - 2 - 42, 'p') + "/"; // 42: the file's text
  std::string fits = prefix + "MacOS/name";
  ASSERT_TRUE(hvl::ResourcePathFromExecutable(fits.c_str(), out, sizeof out));
  EXPECT_EQ(std::string(out).size(), 2047u);
}

} // namespace
