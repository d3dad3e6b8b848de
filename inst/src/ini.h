// The ini document of odbc.ini and odbcinst.ini: parsed once, edited in place,
// written back with every line that was not edited byte for byte as it was.
#ifndef PELMARINST_INI_H
#define PELMARINST_INI_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pinst {

// The name folded for matching: ASCII letters lowered, and other characters
// through the simple lowercase mapping of the C.UTF-8 locale. Bytes that are
// not valid UTF-8 are kept as they are.
std::string FoldName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

// One line of the file, without its '\n' (a '\r' before it stays part of
// `text`, so that CRLF files come back as they were).
//   header: `name` is the section name, trimmed
//   entry:  `name` and `value` are the key and the value, trimmed of spaces and
//           tabs; a line without '=' is a key with an empty value
//   blank, comment (first non-blank ';' or '#'), other (an entry line
//   without a key, e.g. "=x"): kept and otherwise ignored
struct Line {
  enum Kind : std::uint8_t { kBlank, kComment, kHeader, kEntry, kOther };
  std::string_view text;
  std::string_view name;
  std::string_view value;
  Kind kind = kOther;
};

// The lines from one header up to the next. The lines before the first header
// form section 0, which has no header and no name.
struct Section {
  bool hasHeader = false;
  std::string_view name;
  std::vector<Line> lines;
  // Folded key -> index in `lines` of its first entry; kept for large
  // sections only (the lists of data sources and drivers), small ones are
  // searched.
  std::unordered_map<std::string, std::uint32_t> keyIndex;
};

class Document {
 public:
  Document();
  // Parses `content`; the document keeps it alive and points into it. Every
  // byte sequence parses: a document serializes back to exactly `content`.
  static Document Parse(std::shared_ptr<const std::string> content);

  std::string Serialize() const;
  std::size_t ByteSizeHint() const { return sizeHint_; }

  // Lookups. A name that heads several sections reads them all, in order;
  // the first entry of a key gives its value.
  bool HasSection(std::string_view section) const;
  bool HasKey(std::string_view section, std::string_view key) const;
  // The value of key in section; false when the section or the key is absent.
  bool Get(std::string_view section, std::string_view key, std::string_view *value) const;
  // Distinct key names of the section in file order, as first written.
  std::vector<std::string_view> Keys(std::string_view section) const;
  // Distinct section names in file order, as first written.
  std::vector<std::string_view> SectionNames() const;

  // Edits. The caller has checked that names and values cannot change the
  // file's structure. Each returns whether the document changed.
  // Set replaces the value of the key's first entry, keeping the text before
  // the value ("Key = "), or adds "key=value" after the section's last entry,
  // or adds the section at the end of the file.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes every entry of the key in the section.
  bool RemoveKey(std::string_view section, std::string_view key);
  // Removes every section of that name with its entries; comments and blank
  // lines after a section's last entry stay, as they often introduce the next.
  bool RemoveSection(std::string_view section);

  // Number of separate text buffers the document points into; the store
  // re-parses its own output when edits have made many.
  std::size_t StorageCount() const { return storage_.size(); }

 private:
  const std::vector<std::uint32_t> *Find(std::string_view section) const;
  static const Line *FindKey(const Section &s, const std::string &folded);
  std::string_view Keep(std::string text);
  void IndexSection(Section &s);
  void Reindex();

  std::vector<std::shared_ptr<const std::string>> storage_;
  std::vector<Section> sections_;
  std::unordered_map<std::string, std::vector<std::uint32_t>> sectionIndex_;
  bool finalNewline_ = false;
  bool bom_ = false;
  std::size_t sizeHint_ = 0;
};

} // namespace pinst

#endif
