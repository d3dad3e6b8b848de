#include "ini.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>

namespace pinst {

namespace {

// Sections with more entries than this get a hash index of their keys: the
// lists of data sources and drivers grow with the machine, the data sources'
// own sections stay small and are cheaper to search.
constexpr std::size_t kIndexThreshold = 12;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

locale_t FoldLocale() {
  // Created once and never freed: it lives as long as the library.
  static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  return loc;
}

// Decodes one UTF-8 character at s[i]; returns its length, or 0 when the
// bytes there are not a valid character.
std::size_t Decode(std::string_view s, std::size_t i, char32_t *c) {
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

void Encode(char32_t c, std::string *out) {
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

std::string_view Trim(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t'))
    ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
    --e;
  return s.substr(b, e - b);
}

Line Classify(std::string_view text) {
  Line line;
  line.text = text;
  std::string_view body = Trim(text);
  if (body.empty()) {
    line.kind = Line::kBlank;
  } else if (body[0] == ';' || body[0] == '#') {
    line.kind = Line::kComment;
  } else if (body[0] == '[') {
    // An unclosed header still opens a section: its keys must not fall into
    // the section before it.
    std::size_t close = body.find(']');
    line.kind = Line::kHeader;
    line.name = Trim(body.substr(1, close == std::string_view::npos ? std::string_view::npos
                                                                    : close - 1));
  } else {
    std::size_t eq = body.find('=');
    line.name = Trim(body.substr(0, eq));
    line.value = eq == std::string_view::npos ? body.substr(body.size()) : Trim(body.substr(eq + 1));
    line.kind = line.name.empty() ? Line::kOther : Line::kEntry;
  }
  return line;
}

} // namespace

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
    std::size_t n = Decode(name, i, &c);
    if (n == 0) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    locale_t loc = FoldLocale();
    if (loc != static_cast<locale_t>(nullptr))
      c = static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), loc));
    Encode(c, &out);
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

Document::Document() { sections_.emplace_back(); }

Document Document::Parse(std::shared_ptr<const std::string> content) {
  Document doc;
  std::string_view all = *content;
  doc.sizeHint_ = all.size();
  if (all.substr(0, kBom.size()) == kBom) {
    doc.bom_ = true;
    all.remove_prefix(kBom.size());
  }
  doc.finalNewline_ = !all.empty() && all.back() == '\n';
  Section *cur = &doc.sections_.back();
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t nl = all.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? all.size() : nl;
    Line line = Classify(all.substr(pos, end - pos));
    if (line.kind == Line::kHeader) {
      doc.sections_.emplace_back();
      cur = &doc.sections_.back();
      cur->hasHeader = true;
      cur->name = line.name;
    }
    cur->lines.push_back(line);
    pos = nl == std::string_view::npos ? all.size() : nl + 1;
  }
  doc.storage_.push_back(std::move(content));
  doc.Reindex();
  return doc;
}

void Document::IndexSection(Section &s) {
  s.keyIndex.clear();
  std::size_t entries = 0;
  for (const Line &l : s.lines)
    entries += l.kind == Line::kEntry;
  if (entries <= kIndexThreshold)
    return;
  s.keyIndex.reserve(entries);
  for (std::uint32_t i = 0; i < s.lines.size(); ++i)
    if (s.lines[i].kind == Line::kEntry)
      s.keyIndex.emplace(FoldName(s.lines[i].name), i);
}

void Document::Reindex() {
  sectionIndex_.clear();
  sectionIndex_.reserve(sections_.size());
  for (std::uint32_t i = 0; i < sections_.size(); ++i) {
    Section &s = sections_[i];
    if (s.hasHeader)
      sectionIndex_[FoldName(s.name)].push_back(i);
    IndexSection(s);
  }
}

std::string Document::Serialize() const {
  std::string out;
  out.reserve(sizeHint_ + 64);
  if (bom_)
    out.append(kBom);
  for (const Section &s : sections_)
    for (const Line &l : s.lines) {
      out.append(l.text);
      out.push_back('\n');
    }
  if (!finalNewline_ && !out.empty() && out.back() == '\n')
    out.pop_back();
  return out;
}

const std::vector<std::uint32_t> *Document::Find(std::string_view section) const {
  auto it = sectionIndex_.find(FoldName(section));
  return it == sectionIndex_.end() ? nullptr : &it->second;
}

const Line *Document::FindKey(const Section &s, const std::string &folded) {
  if (!s.keyIndex.empty()) {
    auto it = s.keyIndex.find(folded);
    return it == s.keyIndex.end() ? nullptr : &s.lines[it->second];
  }
  for (const Line &l : s.lines)
    if (l.kind == Line::kEntry && SameName(l.name, folded))
      return &l;
  return nullptr;
}

bool Document::HasSection(std::string_view section) const { return Find(section) != nullptr; }

bool Document::HasKey(std::string_view section, std::string_view key) const {
  std::string_view ignored;
  return Get(section, key, &ignored);
}

bool Document::Get(std::string_view section, std::string_view key, std::string_view *value) const {
  const auto *list = Find(section);
  if (list == nullptr)
    return false;
  std::string folded = FoldName(key);
  for (std::uint32_t i : *list)
    if (const Line *l = FindKey(sections_[i], folded)) {
      *value = l->value;
      return true;
    }
  return false;
}

std::vector<std::string_view> Document::Keys(std::string_view section) const {
  std::vector<std::string_view> out;
  const auto *list = Find(section);
  if (list == nullptr)
    return out;
  std::unordered_map<std::string, bool> seen;
  bool dedupe = list->size() > 1;
  for (std::uint32_t i : *list) {
    const Section &s = sections_[i];
    // A large section has its index: a key is new where the index points.
    for (std::uint32_t k = 0; k < s.lines.size(); ++k) {
      const Line &l = s.lines[k];
      if (l.kind != Line::kEntry)
        continue;
      bool first;
      if (dedupe) {
        first = seen.emplace(FoldName(l.name), true).second;
      } else if (!s.keyIndex.empty()) {
        first = s.keyIndex.at(FoldName(l.name)) == k;
      } else {
        first = true;
        for (std::uint32_t j = 0; j < k && first; ++j)
          first = !(s.lines[j].kind == Line::kEntry && SameName(s.lines[j].name, l.name));
      }
      if (first)
        out.push_back(l.name);
    }
  }
  return out;
}

std::vector<std::string_view> Document::SectionNames() const {
  std::vector<std::string_view> out;
  for (std::uint32_t i = 0; i < sections_.size(); ++i) {
    const Section &s = sections_[i];
    if (s.hasHeader && Find(s.name)->front() == i)
      out.push_back(s.name);
  }
  return out;
}

std::string_view Document::Keep(std::string text) {
  auto owned = std::make_shared<const std::string>(std::move(text));
  std::string_view view = *owned;
  storage_.push_back(std::move(owned));
  return view;
}

bool Document::Set(std::string_view section, std::string_view key, std::string_view value) {
  const auto *list = Find(section);
  std::string folded = FoldName(key);
  if (list != nullptr) {
    for (std::uint32_t i : *list) {
      Section &s = sections_[i];
      auto *l = const_cast<Line *>(FindKey(s, folded));
      if (l == nullptr)
        continue;
      if (l->value == value)
        return false;
      // Keep the key as written and the spacing around "=", replace the rest.
      std::string_view text = l->text;
      std::size_t eq = text.find('=');
      std::string line;
      if (eq == std::string_view::npos) {
        line.append(l->name).append("=");
      } else {
        std::size_t v = eq + 1;
        while (v < text.size() && (text[v] == ' ' || text[v] == '\t'))
          ++v;
        line.append(text.substr(0, v));
      }
      std::size_t nameAt = static_cast<std::size_t>(l->name.data() - text.data());
      line.append(value);
      if (!text.empty() && text.back() == '\r')
        line.push_back('\r');
      std::string_view kept = Keep(std::move(line));
      l->text = kept;
      l->name = kept.substr(nameAt, l->name.size());
      if (eq == std::string_view::npos)
        l->name = kept.substr(0, l->name.size());
      l->value = kept.substr(kept.size() - value.size() - (kept.back() == '\r' ? 1 : 0),
                             value.size());
      sizeHint_ += value.size();
      return true;
    }
    // A new key goes after the last entry of the first section of that name.
    Section &s = sections_[list->front()];
    std::size_t at = s.lines.size();
    while (at > 1 && s.lines[at - 1].kind != Line::kEntry)
      --at;
    if (at == 0)
      at = 1;
    std::string text;
    text.append(key).append("=").append(value);
    std::string_view kept = Keep(std::move(text));
    Line line;
    line.kind = Line::kEntry;
    line.text = kept;
    line.name = kept.substr(0, key.size());
    line.value = kept.substr(key.size() + 1);
    bool last = list->front() + 1 == sections_.size() && at == s.lines.size();
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at), line);
    if (last)
      finalNewline_ = true;
    if (!s.keyIndex.empty()) {
      for (auto &entry : s.keyIndex)
        if (entry.second >= at)
          ++entry.second;
      s.keyIndex.emplace(std::move(folded), static_cast<std::uint32_t>(at));
    } else {
      IndexSection(s);
    }
    sizeHint_ += kept.size() + 1;
    return true;
  }
  // A new section at the end, set off by a blank line.
  const Section &tail = sections_.back();
  bool needBlank = false;
  for (auto it = sections_.rbegin(); it != sections_.rend(); ++it)
    if (!it->lines.empty()) {
      needBlank = it->lines.back().kind != Line::kBlank;
      break;
    }
  (void)tail;
  Section s;
  s.hasHeader = true;
  std::string header;
  header.append("[").append(section).append("]");
  std::string_view h = Keep(std::move(header));
  std::string entry;
  entry.append(key).append("=").append(value);
  std::string_view e = Keep(std::move(entry));
  if (needBlank) {
    Line blank;
    blank.kind = Line::kBlank;
    sections_.back().lines.push_back(blank);
  }
  Line hl;
  hl.kind = Line::kHeader;
  hl.text = h;
  hl.name = h.substr(1, section.size());
  s.name = hl.name;
  s.lines.push_back(hl);
  Line el;
  el.kind = Line::kEntry;
  el.text = e;
  el.name = e.substr(0, key.size());
  el.value = e.substr(key.size() + 1);
  s.lines.push_back(el);
  sections_.push_back(std::move(s));
  sectionIndex_[FoldName(section)].push_back(static_cast<std::uint32_t>(sections_.size() - 1));
  finalNewline_ = true;
  sizeHint_ += h.size() + e.size() + 3;
  return true;
}

bool Document::RemoveKey(std::string_view section, std::string_view key) {
  const auto *list = Find(section);
  if (list == nullptr)
    return false;
  std::string folded = FoldName(key);
  bool changed = false;
  for (std::uint32_t i : *list) {
    Section &s = sections_[i];
    if (FindKey(s, folded) == nullptr)
      continue;
    auto end = std::remove_if(s.lines.begin(), s.lines.end(), [&](const Line &l) {
      return l.kind == Line::kEntry && SameName(l.name, folded);
    });
    s.lines.erase(end, s.lines.end());
    IndexSection(s);
    changed = true;
  }
  return changed;
}

bool Document::RemoveSection(std::string_view section) {
  const auto *list = Find(section);
  if (list == nullptr)
    return false;
  std::vector<std::uint32_t> doomed = *list;
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
    Section &s = sections_[*it];
    std::size_t lastEntry = 0;
    for (std::size_t k = 0; k < s.lines.size(); ++k)
      if (s.lines[k].kind == Line::kEntry)
        lastEntry = k;
    std::vector<Line> tail(s.lines.begin() + static_cast<std::ptrdiff_t>(lastEntry + 1),
                           s.lines.end());
    Section &prev = sections_[*it - 1];
    // Avoid doubling the blank line that separated the section from the one
    // before it.
    bool prevBlank = prev.lines.empty() ? (*it - 1 == 0) : prev.lines.back().kind == Line::kBlank;
    std::size_t skip = 0;
    while (prevBlank && skip < tail.size() && tail[skip].kind == Line::kBlank)
      ++skip;
    prev.lines.insert(prev.lines.end(), tail.begin() + static_cast<std::ptrdiff_t>(skip),
                      tail.end());
    sections_.erase(sections_.begin() + *it);
  }
  Reindex();
  return true;
}

} // namespace pinst
