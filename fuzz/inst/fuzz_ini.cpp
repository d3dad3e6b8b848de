// The ini parser and editor on any bytes: a parse serializes back to the same
// bytes, every listed name can be looked up, and a document edited and written
// out parses again to the same sections, keys and values; its recorded edits,
// made again on the original, give the same text.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "ini.h"

namespace {

void Check(bool ok) {
  if (!ok)
    std::abort();
}

// Every section's keys and values, as strings.
std::vector<std::string> Model(const pinst::Document &d) {
  std::vector<std::string> out;
  for (std::string_view s : d.SectionNames()) {
    out.emplace_back("[" + std::string(s) + "]");
    for (std::string_view k : d.Keys(s)) {
      std::string_view v;
      Check(d.Get(s, k, &v));
      out.emplace_back(std::string(k) + "=" + std::string(v));
    }
  }
  return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  auto content = std::make_shared<const std::string>(reinterpret_cast<const char *>(data), size);
  pinst::Document d = pinst::Document::Parse(content);
  Check(d.Serialize() == *content);
  for (std::string_view s : d.SectionNames())
    Check(d.HasSection(s));
  Model(d);

  pinst::Document e = d;
  std::vector<pinst::Document::Edit> journal;
  e.Record(&journal);
  std::vector<std::string> sections;
  for (std::string_view s : d.SectionNames())
    sections.emplace_back(s);
  for (std::size_t i = 0; i < sections.size() && i < 4; ++i) {
    const std::string &s = sections[i];
    e.Set(s, "FuzzKey", "value " + std::to_string(i));
    std::string_view v;
    Check(e.Get(s, "fuzzkey", &v) && v == "value " + std::to_string(i));
    std::vector<std::string_view> keys = e.Keys(s);
    if (!keys.empty()) {
      std::string first(keys.front());
      if (i % 2 == 0) {
        Check(e.RemoveKey(s, first));
        Check(!e.HasKey(s, first));
      } else {
        e.SetExisting(s, first, "changed");
      }
    }
  }
  e.Set("Fuzz Section", "Key", "Value");
  // Makes no section up.
  Check(e.HasSection("Fuzz Absent") || !e.SetExisting("Fuzz Absent", "Key", "Value"));
  if (sections.size() > 4) {
    Check(e.RemoveSection(sections[4]));
    Check(!e.HasSection(sections[4]));
  }
  std::string written = e.Serialize();
  pinst::Document replayed = d;
  for (const pinst::Document::Edit &edit : journal)
    replayed.Apply(edit);
  Check(replayed.Serialize() == written);
  pinst::Document f = pinst::Document::Parse(std::make_shared<const std::string>(written));
  Check(f.Serialize() == written);
  Check(Model(f) == Model(e));
  return 0;
}
