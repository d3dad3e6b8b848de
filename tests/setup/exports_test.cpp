// Loads the built setup library as a host does and checks what it exports.
#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(Exports, VersionAndLibname) {
  void *lib = dlopen(HVL_SETUP_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  auto *version = static_cast<const char *const *>(dlsym(lib, "version"));
  auto *libname = static_cast<const char *const *>(dlsym(lib, "libname"));
  ASSERT_NE(version, nullptr);
  ASSERT_NE(libname, nullptr);
  EXPECT_STREQ(*version, "4.2");
  EXPECT_STREQ(*libname, "Halvern Generic ODBC Driver Setup");
  // Internal routines stay hidden.
  EXPECT_EQ(dlsym(lib, "ParseAttributes"), nullptr);
  EXPECT_EQ(dlsym(lib, "_ZN3hvl15ParseAttributesEPKvPNS_9AttrEntryEi"), nullptr);
  dlclose(lib);
}

TEST(Exports, OnlyTheListedSymbols) {
  std::string cmd = std::string("nm -D --defined-only '") + HVL_SETUP_PATH + "'";
  FILE *p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    char type = 0;
    char name[400];
    if (std::sscanf(line, "%*s %c %399s", &type, name) == 2)
      names.insert(name);
  }
  ASSERT_EQ(pclose(p), 0);
  EXPECT_EQ(names, (std::set<std::string>{HVL_SETUP_EXPORTS}));
}

} // namespace
