// Preferences, the bundle and resource files of the toolkit layer.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fake_toolkit.h"
#include "temp_env.h"
#include "toolkit/platform.h"

namespace hvl::test {
namespace {

const std::string kDomain = kBundleIdentifier;

TEST(Preferences, ListsRoundTripAndAreToldApartFromStrings) {
  TempEnv env;
  PrefValue v;
  EXPECT_EQ(PreferencesCopyAppValue("Provider", kDomain, &v), PrefRead::Absent);

  // Non-ASCII and a character beyond U+FFFF survive the trip through UTF-8.
  std::vector<PlatformString> list = {u"DB2", u"Ingr\u00e9s", u"\U0001F600 x", u""};
  ASSERT_TRUE(PreferencesSetAppValue("Provider", kDomain, list));
  ASSERT_TRUE(PreferencesAppSynchronize(kDomain));
  ASSERT_EQ(PreferencesCopyAppValue("Provider", kDomain, &v), PrefRead::Found);
  ASSERT_EQ(v.type, PrefValue::Type::List);
  ASSERT_EQ(v.list.size(), list.size());
  for (std::size_t i = 0; i < list.size(); ++i)
    EXPECT_EQ(v.list[i], list[i]) << i;

  TempEnv::Write(env.prefs(), R"({"Provider": "DB2", "Other": 5, "Mixed": ["a", 1, null]})");
  ASSERT_EQ(PreferencesCopyAppValue("Provider", kDomain, &v), PrefRead::Found);
  EXPECT_EQ(v.type, PrefValue::Type::String);
  EXPECT_EQ(v.string, u"DB2");
  ASSERT_EQ(PreferencesCopyAppValue("Other", kDomain, &v), PrefRead::Found);
  EXPECT_EQ(v.type, PrefValue::Type::Other);
  ASSERT_EQ(PreferencesCopyAppValue("Mixed", kDomain, &v), PrefRead::Found);
  ASSERT_EQ(v.type, PrefValue::Type::List);
  ASSERT_EQ(v.list.size(), 3u);
  EXPECT_EQ(v.list[0], PlatformString(u"a"));
  EXPECT_FALSE(v.list[1].has_value());
  EXPECT_FALSE(v.list[2].has_value());
}

TEST(Preferences, StoringKeepsOtherKeysAndRefusesABrokenFile) {
  TempEnv env;
  TempEnv::Write(env.prefs(), R"({"Colour": "blue"})");
  ASSERT_TRUE(PreferencesSetAppValue("Provider", kDomain, {u"Odbc"}));
  auto stored = nlohmann::json::parse(TempEnv::Read(env.prefs()));
  EXPECT_EQ(stored["Colour"], "blue");
  EXPECT_EQ(stored["Provider"], nlohmann::json::array({"Odbc"}));

  // A file that is not a JSON object is somebody's: read as unreadable,
  // never overwritten.
  for (const char *broken : {"{\"Provider\": [\"DB2\"", "[1, 2]", "\xff\xfe"}) {
    TempEnv::Write(env.prefs(), broken);
    PrefValue v;
    EXPECT_EQ(PreferencesCopyAppValue("Provider", kDomain, &v), PrefRead::Unreadable) << broken;
    EXPECT_FALSE(PreferencesSetAppValue("Provider", kDomain, {u"x"})) << broken;
    EXPECT_EQ(TempEnv::Read(env.prefs()), broken);
  }
}

TEST(Preferences, FolderFollowsTheBaseDirectoryRules) {
  TempEnv env;
  EXPECT_EQ(PreferencesPath(kDomain), env.dir() + "/config/com.halvernsw.vantor.json");
  setenv("XDG_CONFIG_HOME", "relative/dir", 1); // ignored: not absolute
  EXPECT_EQ(PreferencesPath(kDomain), env.dir() + "/.config/com.halvernsw.vantor.json");
  ASSERT_TRUE(PreferencesSetAppValue("Provider", kDomain, {u"DB2"}));
  EXPECT_FALSE(TempEnv::Read(env.dir() + "/.config/com.halvernsw.vantor.json").empty());
  EXPECT_EQ(PreferencesPath("../escape"), "");
}

TEST(Preferences, ConcurrentWritersOfOneUserLoseNothing) {
  TempEnv env;
  constexpr int kWriters = 6, kRounds = 20;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int r = 0; r < kRounds; ++r)
        ok = PreferencesSetAppValue("key" + std::to_string(w), kDomain,
                                    {PlatformString(u"round"), PlatformString(1, char16_t(u'0' + r % 10))}) && ok;
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto stored = nlohmann::json::parse(TempEnv::Read(env.prefs()));
  for (int w = 0; w < kWriters; ++w)
    EXPECT_EQ(stored["key" + std::to_string(w)],
              nlohmann::json::array({"round", std::to_string((kRounds - 1) % 10)}));
}

TEST(Bundle, FoundByIdentifierAndPointedAtByTests) {
  SetBundleDirectory("/opt/x/Foo.bundle");
  EXPECT_EQ(GetBundleWithIdentifier("org.other"), nullptr);
  EXPECT_EQ(GetBundleWithIdentifier(nullptr), nullptr);
  const Bundle *b = GetBundleWithIdentifier(kBundleIdentifier);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->contents, "/opt/x/Foo.bundle/Contents");
  EXPECT_EQ(b->resources, "/opt/x/Foo.bundle/Contents/Resources");
  EXPECT_EQ(b->plugins, "/opt/x/Foo.bundle/Contents/PlugIns");
  PlatformString path;
  ASSERT_TRUE(BundleGetInfoValue(b, "CFBundleExecutablePath", &path));
  EXPECT_EQ(U8(path), "/opt/x/Foo.bundle/Contents/MacOS/Halvern Generic ODBC Driver");
  EXPECT_FALSE(BundleGetInfoValue(b, "NoSuchKey", &path));
  EXPECT_FALSE(BundleGetInfoValue(nullptr, "CFBundleExecutablePath", &path));

  // Without an override: the folder of the code itself (this test program).
  SetBundleDirectory("");
  b = GetBundleWithIdentifier(kBundleIdentifier);
  ASSERT_NE(b, nullptr);
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  EXPECT_EQ(b->executable, std::string(self, static_cast<std::size_t>(n)));
}

TEST(ResourceText, ParsesAlertsAndRejectsBadFiles) {
  std::string error;
  auto alerts = ParseResourceText("# comment\n\nalert 7\n  message = Hello\\nworld\n"
                                  "kind = stop\ntitle = T\ninformative = a\\\\b\n"
                                  "button = Yes\nbutton = No\nend\n"
                                  "alert 8\nmessage=Only\nend\n",
                                  &error);
  ASSERT_TRUE(alerts) << error;
  ASSERT_EQ(alerts->size(), 2u);
  const AlertDefinition &a = alerts->at(7);
  EXPECT_EQ(a.message, "Hello\nworld");
  EXPECT_EQ(a.kind, AlertDefinition::Kind::Stop);
  EXPECT_EQ(a.title, "T");
  EXPECT_EQ(a.informative, "a\\b");
  EXPECT_EQ(a.buttons, (std::vector<std::string>{"Yes", "No"}));
  EXPECT_EQ(alerts->at(8).buttons, std::vector<std::string>{"OK"}); // the default button
  EXPECT_EQ(alerts->at(8).kind, AlertDefinition::Kind::Note);

  struct Case {
    const char *text, *error;
  } bad[] = {
      {"message = x\n", "line 1: expected \"alert <number>\""},
      {"alert 0\nmessage = x\nend\n", "line 1: alert number must be 1 to 32767"},
      {"alert 40000\nmessage = x\nend\n", "line 1: alert number must be 1 to 32767"},
      {"alert 12a\nmessage = x\nend\n", "line 1: alert number must be 1 to 32767"},
      {"alert 1\nmessage = x\nend\nalert 1\nmessage = y\nend\n", "line 4: alert 1 defined twice"},
      {"alert 1\nmessage = x\n", "line 2: alert 1 has no \"end\""},
      {"alert 1\ntitle = x\nend\n", "line 3: alert 1 has no message"},
      {"alert 1\ncolour = red\nend\n", "line 2: unknown key \"colour\""},
      {"alert 1\nmessage = a\\qb\nend\n", "line 2: bad escape; only \\n, \\t and \\\\ are known"},
      {"alert 1\nkind = loud\nend\n", "line 2: kind must be plain, note, caution or stop"},
      {"alert 1\nmessage\nend\n", "line 2: expected \"key = value\" or \"end\""},
      {"alert 1\nbutton =\nend\n", "line 2: a button needs a title"},
  };
  for (const auto &c : bad) {
    error.clear();
    EXPECT_FALSE(ParseResourceText(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(ResourceText, TheBundlesFileDefinesTheAboutBox) {
  std::string error;
  auto alerts = ParseResourceText(TempEnv::Read(HVL_RESOURCE_FILE), &error);
  ASSERT_TRUE(alerts) << error;
  ASSERT_EQ(alerts->count(1001), 1u);
  const AlertDefinition &about = alerts->at(1001);
  EXPECT_NE((about.message + about.informative).find("Halvern Generic ODBC Driver Setup"),
            std::string::npos);
  EXPECT_NE((about.message + about.informative).find("4.2"), std::string::npos);
}

TEST(ResourceFiles, ChainFindsAlertsCurrentFirstAndSurvivesBadFiles) {
  TempEnv env;
  FakeToolkit tk;
  std::string a = env.dir() + "/a.rsrc", b = env.dir() + "/b.rsrc", bad = env.dir() + "/bad.rsrc";
  TempEnv::Write(a, "alert 1\nmessage = from a\nend\nalert 2\nmessage = only a\nend\n");
  TempEnv::Write(b, "alert 1\nmessage = from b\nend\n");
  TempEnv::Write(bad, "alert 1\n");

  std::int16_t none = 5;
  EXPECT_EQ(OpenResourceFile(env.dir() + "/missing.rsrc", &none), kErrFileNotFound);
  EXPECT_EQ(none, -1);
  EXPECT_EQ(OpenResourceFile(bad, &none), kErrDefinitionUnreadable);
  EXPECT_EQ(none, -1);
  EXPECT_EQ(Alert(1), kErrResourceNotFound);
  EXPECT_TRUE(tk.alerts.empty());

  std::int16_t before = CurResFile(), ra = -1, rb = -1;
  ASSERT_EQ(OpenResourceFile(a, &ra), noErr);
  ASSERT_EQ(OpenResourceFile(b, &rb), noErr);
  EXPECT_NE(ra, rb);
  EXPECT_EQ(CurResFile(), before); // opening does not make current

  UseResFile(ra);
  tk.alertAnswer = 2;
  EXPECT_EQ(Alert(1), 2);
  UseResFile(rb);
  EXPECT_EQ(Alert(1), 2);
  EXPECT_EQ(Alert(2), 2); // not in the current file: found further down the chain
  ASSERT_EQ(tk.alerts.size(), 3u);
  EXPECT_EQ(tk.alerts[0].message, "from a");
  EXPECT_EQ(tk.alerts[1].message, "from b");
  EXPECT_EQ(tk.alerts[2].message, "only a");

  UseResFile(1234); // unknown: ignored
  EXPECT_EQ(CurResFile(), rb);
  CloseResFile(rb);
  EXPECT_EQ(CurResFile(), 0);
  CloseResFile(ra);
  EXPECT_EQ(Alert(1), kErrResourceNotFound);
  UseResFile(before);
}

} // namespace
} // namespace hvl::test
