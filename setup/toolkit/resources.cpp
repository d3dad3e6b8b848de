// Resource files: alerts defined in a small text format of our own
// (setup/resources/README.md), and the chain of open files that Alert
// searches.
#include <algorithm>
#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "toolkit/platform.h"

namespace hvl {

namespace {

std::string Trim(const std::string &s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos)
    return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool Unescape(const std::string &in, std::string *out) {
  out->clear();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\\') {
      out->push_back(in[i]);
      continue;
    }
    if (++i == in.size())
      return false;
    switch (in[i]) {
    case 'n': out->push_back('\n'); break;
    case 't': out->push_back('\t'); break;
    case '\\': out->push_back('\\'); break;
    default: return false;
    }
  }
  return true;
}

struct OpenFile {
  std::int16_t refNum;
  std::map<std::int16_t, AlertDefinition> alerts;
};

std::mutex gMutex;
std::vector<OpenFile> gFiles; // in order of opening
std::int16_t gCurrent = 0;
std::int16_t gNextRefNum = 1;

} // namespace

std::optional<std::map<std::int16_t, AlertDefinition>> ParseResourceText(const std::string &text,
                                                                        std::string *error) {
  std::map<std::int16_t, AlertDefinition> alerts;
  std::istringstream in(text);
  std::string raw;
  int lineNo = 0;
  AlertDefinition *open = nullptr;
  auto fail = [&](const std::string &why) -> std::optional<std::map<std::int16_t, AlertDefinition>> {
    if (error != nullptr)
      *error = "line " + std::to_string(lineNo) + ": " + why;
    return std::nullopt;
  };
  while (std::getline(in, raw)) {
    ++lineNo;
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#')
      continue;
    if (open == nullptr) {
      if (line.rfind("alert ", 0) != 0)
        return fail("expected \"alert <number>\"");
      std::string number = Trim(line.substr(6));
      int id = 0;
      auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), id);
      if (ec != std::errc() || end != number.data() + number.size() || id < 1 || id > 32767)
        return fail("alert number must be 1 to 32767");
      auto key = static_cast<std::int16_t>(id);
      if (alerts.count(key) != 0)
        return fail("alert " + number + " defined twice");
      open = &alerts[key];
      open->id = key;
      continue;
    }
    if (line == "end") {
      if (open->message.empty())
        return fail("alert " + std::to_string(open->id) + " has no message");
      if (open->buttons.empty())
        open->buttons.emplace_back("OK");
      open = nullptr;
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos)
      return fail("expected \"key = value\" or \"end\"");
    std::string key = Trim(line.substr(0, eq));
    std::string value;
    if (!Unescape(Trim(line.substr(eq + 1)), &value))
      return fail("bad escape; only \\n, \\t and \\\\ are known");
    if (key == "kind") {
      using K = AlertDefinition::Kind;
      if (value == "plain") open->kind = K::Plain;
      else if (value == "note") open->kind = K::Note;
      else if (value == "caution") open->kind = K::Caution;
      else if (value == "stop") open->kind = K::Stop;
      else return fail("kind must be plain, note, caution or stop");
    } else if (key == "title") {
      open->title = value;
    } else if (key == "message") {
      open->message = value;
    } else if (key == "informative") {
      open->informative = value;
    } else if (key == "button") {
      if (value.empty())
        return fail("a button needs a title");
      open->buttons.push_back(value);
    } else {
      return fail("unknown key \"" + key + "\"");
    }
  }
  if (open != nullptr)
    return fail("alert " + std::to_string(open->id) + " has no \"end\"");
  return alerts;
}

std::int16_t CurResFile() {
  std::lock_guard lock(gMutex);
  return gCurrent;
}

void UseResFile(std::int16_t refNum) {
  std::lock_guard lock(gMutex);
  if (refNum == 0 || std::any_of(gFiles.begin(), gFiles.end(),
                                 [&](const OpenFile &f) { return f.refNum == refNum; }))
    gCurrent = refNum;
}

OSStatus OpenResourceFile(const std::string &path, std::int16_t *refNum) {
  if (refNum == nullptr)
    return kErrParam;
  *refNum = -1;
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return kErrFileNotFound;
  std::stringstream text;
  text << in.rdbuf();
  auto alerts = ParseResourceText(text.str(), nullptr);
  if (in.bad() || !alerts)
    return kErrDefinitionUnreadable;
  std::lock_guard lock(gMutex);
  // Numbers are never reused while the process lives, so a stale number
  // cannot reach another file.
  if (gNextRefNum == INT16_MAX)
    return kErrParam;
  *refNum = gNextRefNum++;
  gFiles.push_back(OpenFile{*refNum, std::move(*alerts)});
  return noErr;
}

void CloseResFile(std::int16_t refNum) {
  std::lock_guard lock(gMutex);
  auto it = std::find_if(gFiles.begin(), gFiles.end(),
                         [&](const OpenFile &f) { return f.refNum == refNum; });
  if (it == gFiles.end())
    return;
  gFiles.erase(it);
  if (gCurrent == refNum)
    gCurrent = 0;
}

std::int32_t Alert(std::int16_t id) {
  std::optional<AlertDefinition> found;
  {
    std::lock_guard lock(gMutex);
    auto lookIn = [&](const OpenFile &f) {
      auto a = f.alerts.find(id);
      if (a != f.alerts.end())
        found = a->second;
      return found.has_value();
    };
    for (const auto &f : gFiles)
      if (f.refNum == gCurrent && lookIn(f))
        break;
    for (auto f = gFiles.rbegin(); !found && f != gFiles.rend(); ++f)
      lookIn(*f);
  }
  if (!found)
    return kErrResourceNotFound;
  return ActiveToolkit().RunAlert(*found);
}

} // namespace hvl
