#include "ini.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cstring>

namespace pinst {

namespace {

// Sections with more entries than this get a hash index of their keys: the
// lists of data sources and drivers grow with the machine, the data sources'
// own sections stay small and are cheaper to search.
constexpr std::size_t kIndexThreshold = 24;

locale_t FoldLocale() {
  // Created once and never freed: it lives as long as the library.
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

std::string_view Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
    --e;
  return s.substr(b, e - b);
}

// The name and the value of a header or an entry line.
struct Parts {
  std::string_view name, value;
};

Parts Split(std::string_view text, Line::Kind kind) {
  std::string_view body = Trim(text);
  if (kind == Line::kHeader) {
    // An unclosed header still opens a section: its keys must not fall into
    // the section before it.
    std::size_t close = body.find(']');
    return {Trim(body.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                : close - 1)),
            {}};
  }
  if (kind != Line::kEntry)
    return {};
  std::size_t eq = body.find('=');
  return {Trim(body.substr(0, eq)),
          eq == std::string_view::npos ? body.substr(body.size()) : Trim(body.substr(eq + 1))};
}

Line Classify(const char *text, std::size_t length) {
  Line line;
  line.text = text;
  line.length = static_cast<std::uint32_t>(length);
  std::string_view body = Trim(line.Text());
  if (body.empty()) {
    line.kind = Line::kBlank;
  } else if (body[0] == ';' || body[0] == '#') {
    line.kind = Line::kComment;
  } else if (body[0] == '[') {
    line.kind = Line::kHeader;
  } else {
    // The body starts with neither a space nor a tab: its key is empty only
    // when it starts with "=".
    line.kind = body[0] == '=' ? Line::kOther : Line::kEntry;
  }
  return line;
}

std::uint64_t FoldHash(std::string_view s) {
  constexpr std::uint64_t kBasis = 1469598103934665603ull, kPrime = 1099511628211ull;
  std::uint64_t h = kBasis;
  for (unsigned char c : s) {
    if (c >= 0x80) {
      h = kBasis;
      for (unsigned char d : FoldName(s))
        h = (h ^ d) * kPrime;
      return h;
    }
    if (c >= 'A' && c <= 'Z')
      c = static_cast<unsigned char>(c + 32);
    h = (h ^ c) * kPrime;
  }
  return h;
}

std::size_t TableSize(std::size_t entries) {
  std::size_t n = 16;
  while (n < entries * 2 + 2)
    n *= 2;
  return n;
}

} // namespace

void EncodeUtf8(char32_t c, std::string *out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t *c) {
  auto b = static_cast<unsigned char>(s[i]);
  std::size_t n;
  char32_t v;
  if (b < 0x80) {
    *c = b;
    return 1;
  }
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    v = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    v = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    v = b & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size())
    return 0;
  for (std::size_t k = 1; k < n; ++k) {
    auto t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80)
      return 0;
    v = (v << 6) | (t & 0x3F);
  }
  if ((n == 3 && v < 0x800) || (n == 4 && (v < 0x10000 || v > 0x10FFFF)) ||
      (v >= 0xD800 && v <= 0xDFFF))
    return 0;
  *c = v;
  return n;
}

std::string_view Line::Name() const { return Split(Text(), kind).name; }
std::string_view Line::Value() const { return Split(Text(), kind).value; }

std::string FoldName(std::string_view name) {
  std::string out;
  out.reserve(name.size());
  for (std::size_t i = 0; i < name.size();) {
    auto b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b));
      ++i;
      continue;
    }
    char32_t c;
    std::size_t n = DecodeUtf8(name, i, &c);
    if (n == 0) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    locale_t loc = FoldLocale();
    if (loc != static_cast<locale_t>(nullptr))
      c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc));
    EncodeUtf8(c, &out);
    i += n;
  }
  return out;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    bool ascii = true;
    for (std::size_t i = 0; i < a.size(); ++i) {
      auto x = static_cast<unsigned char>(a[i]);
      auto y = static_cast<unsigned char>(b[i]);
      if ((x | y) >= 0x80) {
        ascii = false;
        break;
      }
      if (x != y && (x | 0x20) != (y | 0x20))
        return false;
      if (x != y && !((x | 0x20) >= 'a' && (x | 0x20) <= 'z'))
        return false;
    }
    if (ascii)
      return true;
  }
  return FoldName(a) == FoldName(b);
}

Document::Document() {
  sections_.emplace_back();
  IndexSections();
}

Document Document::Parse(std::shared_ptr<const std::string> content) {
  Document doc;
  std::string_view all = *content;
  if (all.substr(0, kBom.size()) == kBom) {
    doc.bom_ = true;
    all.remove_prefix(kBom.size());
  }
  doc.finalNewline_ = !all.empty() && all.back() == '\n';
  // Counted first, so that the tables are allocated once: in a fresh process
  // every page touched costs, and growing a table touches it twice.
  std::size_t lines = 1, headers = 1;
  for (const char *p = all.data(), *end = all.data() + all.size();
       (p = static_cast<const char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) !=
       nullptr;
       ++p) {
    ++lines;
    headers += p + 1 < end && p[1] == '[';
  }
  doc.lines_.reserve(lines);
  doc.sections_.reserve(headers + 1);
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t nl = all.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? all.size() : nl;
    Line line = Classify(all.data() + pos, end - pos);
    if (line.kind == Line::kHeader) {
      Section s;
      s.first = static_cast<std::uint32_t>(doc.lines_.size());
      s.hasHeader = true;
      doc.sections_.push_back(std::move(s));
    }
    doc.lines_.push_back(line);
    doc.sections_.back().count++;
    pos = nl == std::string_view::npos ? all.size() : nl + 1;
  }
  doc.storage_.push_back(std::move(content));
  for (Section &s : doc.sections_)
    doc.IndexKeys(s);
  doc.IndexSections();
  return doc;
}

void Document::IndexKeys(Section &s) {
  std::size_t entries = 0;
  for (std::uint32_t r = 0; r < s.count; ++r)
    entries += lines_[s.first + r].kind == Line::kEntry;
  s.keys.clear();
  if (entries <= kIndexThreshold)
    return;
  s.keys.assign(TableSize(entries), 0);
  std::size_t mask = s.keys.size() - 1;
  for (std::uint32_t r = 0; r < s.count; ++r) {
    const Line &l = lines_[s.first + r];
    if (l.kind != Line::kEntry)
      continue;
    for (std::size_t i = FoldHash(l.Name()) & mask;; i = (i + 1) & mask) {
      if (s.keys[i] == 0) {
        s.keys[i] = r + 1;
        break;
      }
      if (SameName(lines_[s.first + s.keys[i] - 1].Name(), l.Name()))
        break;  // the first entry of a key wins
    }
  }
}

void Document::IndexSections() {
  sectionTable_.assign(TableSize(sections_.size()), 0);
  std::size_t mask = sectionTable_.size() - 1;
  std::vector<std::uint32_t> last(sections_.size(), kNone);
  for (std::uint32_t k = 0; k < sections_.size(); ++k) {
    Section &s = sections_[k];
    s.next = kNone;
    if (!s.hasHeader)
      continue;
    for (std::size_t i = FoldHash(Name(s)) & mask;; i = (i + 1) & mask) {
      if (sectionTable_[i] == 0) {
        sectionTable_[i] = k + 1;
        last[k] = k;
        break;
      }
      std::uint32_t head = sectionTable_[i] - 1;
      if (SameName(Name(sections_[head]), Name(s))) {
        sections_[last[head]].next = k;
        last[head] = k;
        break;
      }
    }
  }
}

std::string Document::Serialize() const {
  std::size_t size = kBom.size();
  for (const Line &l : lines_)
    size += l.length + 1;
  std::string out;
  out.reserve(size);
  ForEachPiece([&](std::string_view piece) {
    out.append(piece);
    return true;
  });
  return out;
}

std::uint32_t Document::Find(std::string_view section) const {
  std::size_t mask = sectionTable_.size() - 1;
  for (std::size_t i = FoldHash(section) & mask; sectionTable_[i] != 0; i = (i + 1) & mask) {
    std::uint32_t k = sectionTable_[i] - 1;
    if (SameName(Name(sections_[k]), section))
      return k;
  }
  return kNone;
}

std::uint32_t Document::FindKey(const Section &s, std::string_view key) const {
  if (!s.keys.empty()) {
    std::size_t mask = s.keys.size() - 1;
    for (std::size_t i = FoldHash(key) & mask; s.keys[i] != 0; i = (i + 1) & mask) {
      std::uint32_t line = s.first + s.keys[i] - 1;
      if (SameName(lines_[line].Name(), key))
        return line;
    }
    return kNone;
  }
  for (std::uint32_t r = 0; r < s.count; ++r) {
    const Line &l = lines_[s.first + r];
    if (l.kind == Line::kEntry && SameName(l.Name(), key))
      return s.first + r;
  }
  return kNone;
}

bool Document::HasSection(std::string_view section) const { return Find(section) != kNone; }

bool Document::HasKey(std::string_view section, std::string_view key) const {
  std::string_view ignored;
  return Get(section, key, &ignored);
}

bool Document::Get(std::string_view section, std::string_view key, std::string_view *value) const {
  for (std::uint32_t k = Find(section); k != kNone; k = sections_[k].next) {
    std::uint32_t line = FindKey(sections_[k], key);
    if (line != kNone) {
      *value = lines_[line].Value();
      return true;
    }
  }
  return false;
}

std::vector<std::string_view> Document::Keys(std::string_view section) const {
  std::vector<std::string_view> out;
  std::uint32_t head = Find(section);
  if (head == kNone)
    return out;
  bool several = sections_[head].next != kNone;
  for (std::uint32_t k = head; k != kNone; k = sections_[k].next) {
    const Section &s = sections_[k];
    for (std::uint32_t r = 0; r < s.count; ++r) {
      const Line &l = lines_[s.first + r];
      if (l.kind != Line::kEntry)
        continue;
      bool first = true;
      if (several) {
        // Rare: a name heading several sections. Quadratic, but only there.
        for (std::string_view seen : out)
          if (SameName(seen, l.Name())) {
            first = false;
            break;
          }
      } else {
        first = FindKey(s, l.Name()) == s.first + r;
      }
      if (first)
        out.push_back(l.Name());
    }
  }
  return out;
}

std::vector<std::string_view> Document::SectionNames() const {
  std::vector<std::string_view> out;
  for (std::uint32_t k = 0; k < sections_.size(); ++k)
    if (sections_[k].hasHeader && Find(Name(sections_[k])) == k)
      out.push_back(Name(sections_[k]));
  return out;
}

Line Document::MakeLine(std::string text) {
  auto owned = std::make_shared<const std::string>(std::move(text));
  Line line = Classify(owned->data(), owned->size());
  storage_.push_back(std::move(owned));
  return line;
}

void Document::InsertLine(std::uint32_t sectionIndex, std::uint32_t offset, const Line &line) {
  Section &s = sections_[sectionIndex];
  std::uint32_t at = s.first + offset;
  if (at == lines_.size())
    finalNewline_ = true;
  lines_.insert(lines_.begin() + at, line);
  s.count++;
  for (std::size_t k = sectionIndex + 1; k < sections_.size(); ++k)
    sections_[k].first++;
  if (line.kind == Line::kEntry || !s.keys.empty())
    IndexKeys(s);
}

bool Document::Set(std::string_view section, std::string_view key, std::string_view value) {
  bool changed = SetEntry(section, key, value);
  if (changed)
    Log(Edit::kSet, section, key, value);
  return changed;
}

bool Document::SetExisting(std::string_view section, std::string_view key,
                           std::string_view value) {
  if (!HasSection(section))
    return false;
  bool changed = SetEntry(section, key, value);
  if (changed)
    Log(Edit::kSetExisting, section, key, value);
  return changed;
}

bool Document::RemoveKey(std::string_view section, std::string_view key) {
  bool changed = RemoveEntries(section, key);
  if (changed)
    Log(Edit::kRemoveKey, section, key);
  return changed;
}

bool Document::RemoveSection(std::string_view section) {
  bool changed = RemoveSections(section);
  if (changed)
    Log(Edit::kRemoveSection, section);
  return changed;
}

bool Document::Apply(const Edit &edit) {
  switch (edit.kind) {
  case Edit::kSet:
    return Set(edit.section, edit.key, edit.value);
  case Edit::kSetExisting:
    return SetExisting(edit.section, edit.key, edit.value);
  case Edit::kRemoveKey:
    return RemoveKey(edit.section, edit.key);
  case Edit::kRemoveSection:
    return RemoveSection(edit.section);
  }
  return false;
}

void Document::Log(Edit::Kind kind, std::string_view section, std::string_view key,
                   std::string_view value) {
  if (journal_.to != nullptr)
    journal_.to->push_back(Edit{kind, std::string(section), std::string(key), std::string(value)});
}

bool Document::SetEntry(std::string_view section, std::string_view key, std::string_view value) {
  std::uint32_t head = Find(section);
  for (std::uint32_t k = head; k != kNone; k = sections_[k].next) {
    std::uint32_t at = FindKey(sections_[k], key);
    if (at == kNone)
      continue;
    const Line &old = lines_[at];
    if (old.Value() == value)
      return false;
    // Keep the key as written and the spacing around "=", replace the rest.
    std::string_view text = old.Text();
    std::size_t eq = text.find('=');
    std::string line;
    if (eq == std::string_view::npos) {
      line.append(old.Name()).append("=");
    } else {
      std::size_t v = eq + 1;
      while (v < text.size() && (text[v] == ' ' || text[v] == '\t'))
        ++v;
      line.append(text.substr(0, v));
    }
    line.append(value);
    if (!text.empty() && text.back() == '\r')
      line.push_back('\r');
    lines_[at] = MakeLine(std::move(line));
    return true;
  }
  std::string entry;
  entry.append(key).append("=").append(value);
  if (head != kNone) {
    // After the last entry of the first section of that name.
    const Section &s = sections_[head];
    std::uint32_t offset = s.count;
    while (offset > 1 && lines_[s.first + offset - 1].kind != Line::kEntry)
      --offset;
    InsertLine(head, offset, MakeLine(std::move(entry)));
    return true;
  }
  // A new section at the end, set off by a blank line.
  if (!lines_.empty() && lines_.back().kind != Line::kBlank) {
    Line blank;
    blank.kind = Line::kBlank;
    InsertLine(static_cast<std::uint32_t>(sections_.size() - 1), sections_.back().count, blank);
  }
  std::string header;
  header.append("[").append(section).append("]");
  Section s;
  s.first = static_cast<std::uint32_t>(lines_.size());
  s.count = 2;
  s.hasHeader = true;
  lines_.push_back(MakeLine(std::move(header)));
  lines_.push_back(MakeLine(std::move(entry)));
  sections_.push_back(std::move(s));
  finalNewline_ = true;
  if (sectionTable_.size() < TableSize(sections_.size())) {
    IndexSections();
  } else {
    std::size_t mask = sectionTable_.size() - 1;
    std::size_t i = FoldHash(section) & mask;
    while (sectionTable_[i] != 0)
      i = (i + 1) & mask;
    sectionTable_[i] = static_cast<std::uint32_t>(sections_.size());
  }
  return true;
}

bool Document::RemoveEntries(std::string_view section, std::string_view key) {
  bool changed = false;
  for (std::uint32_t k = Find(section); k != kNone; k = sections_[k].next) {
    Section &s = sections_[k];
    if (FindKey(s, key) == kNone)
      continue;
    auto begin = lines_.begin() + s.first;
    auto end = begin + s.count;
    auto kept = std::remove_if(begin, end, [&](const Line &l) {
      return l.kind == Line::kEntry && SameName(l.Name(), key);
    });
    auto removed = static_cast<std::uint32_t>(end - kept);
    lines_.erase(kept, end);
    s.count -= removed;
    for (std::size_t j = k + 1; j < sections_.size(); ++j)
      sections_[j].first -= removed;
    IndexKeys(s);
    changed = true;
  }
  return changed;
}

bool Document::RemoveSections(std::string_view section) {
  std::vector<std::uint32_t> doomed;
  for (std::uint32_t k = Find(section); k != kNone; k = sections_[k].next)
    doomed.push_back(k);
  if (doomed.empty())
    return false;
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    std::uint32_t k = *it;
    const Section &s = sections_[k];
    std::uint32_t lastEntry = 0;
    for (std::uint32_t r = 0; r < s.count; ++r)
      if (lines_[s.first + r].kind == Line::kEntry)
        lastEntry = r;
    Section &prev = sections_[k - 1];
    // Keep what follows the last entry, without doubling the blank line that
    // set the section off from the one before it.
    bool prevBlank =
        prev.count == 0 ? k - 1 == 0 : lines_[prev.first + prev.count - 1].kind == Line::kBlank;
    std::uint32_t cut = lastEntry + 1;
    while (prevBlank && cut < s.count && lines_[s.first + cut].kind == Line::kBlank)
      ++cut;
    std::uint32_t first = s.first, keep = s.count - cut;
    lines_.erase(lines_.begin() + first, lines_.begin() + first + cut);
    prev.count += keep;
    sections_.erase(sections_.begin() + k);
    for (std::size_t j = k; j < sections_.size(); ++j)
      sections_[j].first -= cut;
  }
  IndexSections();
  return true;
}

} // namespace pinst
