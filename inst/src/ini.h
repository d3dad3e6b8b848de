// The ini document of odbc.ini and odbcinst.ini: parsed once, edited in place,
// written back with every line that was not edited byte for byte as it was.
#ifndef PELMARINST_INI_H
#define PELMARINST_INI_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace pinst {

// Decodes one UTF-8 character at s[i] (i < s.size()) into *c; returns its
// length, or 0 when the bytes there are not a valid character (overlong
// forms, surrogates and values past U+10FFFF included).
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t *c);
// Appends the UTF-8 form of a valid character (not a surrogate, at most
// U+10FFFF) to *out.
void EncodeUtf8(char32_t c, std::string *out);

// The name folded for matching: ASCII letters lowered, and other characters
// through the simple lowercase mapping of the C.UTF-8 locale. Bytes that are
// not valid UTF-8 are kept as they are.
std::string FoldName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

// One line of the file, without its '\n' (a '\r' before it stays part of the
// text, so that CRLF files come back as they were).
//   header: Name() is the section name, trimmed
//   entry:  Name() and Value() are the key and the value, trimmed of spaces
//           and tabs; a line without '=' is a key with an empty value
//   blank, comment (first non-blank ';' or '#'), other (an entry line
//   without a key, e.g. "=x"): kept and otherwise ignored
struct Line {
  enum Kind : std::uint8_t { kBlank, kComment, kHeader, kEntry, kOther };
  const char *text = "";
  std::uint32_t length = 0;
  Kind kind = kOther;

  std::string_view Text() const { return {text, length}; }
  // Worked out from the text when asked: keeping them would double the memory
  // of a parsed file, and a fresh process pays for every page it touches.
  std::string_view Name() const;
  std::string_view Value() const;
};

class Document {
 public:
  static constexpr std::string_view kBom = "\xEF\xBB\xBF";

  Document();
  // Parses content; the document keeps it alive and points into it. Every
  // byte sequence parses, and serializes back to exactly content.
  static Document Parse(std::shared_ptr<const std::string> content);

  std::string Serialize() const;
  // The same text in pieces, in order, without building it: lines that lie
  // one after another in the text they were parsed from come as one piece,
  // their line breaks included. Stops, returning false, as soon as sink
  // returns false.
  template <typename Sink> bool ForEachPiece(Sink &&sink) const;

  // Lookups. Names match as FoldName says. A name that heads several
  // sections reads them all, in order; the first entry of a key gives its
  // value.
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
  // As Set, in a section that is there; with none, nothing changes.
  bool SetExisting(std::string_view section, std::string_view key, std::string_view value);
  // Removes every entry of the key in the section.
  bool RemoveKey(std::string_view section, std::string_view key);
  // Removes every section of that name with its entries; comments and blank
  // lines after a section's last entry stay, as they often introduce the next.
  bool RemoveSection(std::string_view section);

  // Number of separate text buffers the document points into; the store
  // re-parses its own output when edits have made many.
  std::size_t StorageCount() const { return storage_.size(); }

  // One of the edits above with its arguments, as the store replays a batch
  // of writes on the file as it is when the batch is committed.
  struct Edit {
    enum Kind : std::uint8_t { kSet, kSetExisting, kRemoveKey, kRemoveSection };
    Kind kind = kSet;
    std::string section, key, value;
  };
  // From now on every edit that changes the document is appended to *journal
  // (null: none is). A copy of the document does not record into it.
  void Record(std::vector<Edit> *journal) { journal_.to = journal; }
  // Makes the edit; whether the document changed.
  bool Apply(const Edit &edit);

 private:
  // The journal pointer, which a copied document leaves behind.
  struct Journal {
    std::vector<Edit> *to = nullptr;
    Journal() = default;
    Journal(const Journal &) {}
    Journal &operator=(const Journal &) { return *this; }
  };
  bool SetEntry(std::string_view section, std::string_view key, std::string_view value);
  bool RemoveEntries(std::string_view section, std::string_view key);
  bool RemoveSections(std::string_view section);
  void Log(Edit::Kind kind, std::string_view section, std::string_view key = {},
           std::string_view value = {});

  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  struct Section {
    std::uint32_t first = 0;   // index of its first line (the header) in lines_
    std::uint32_t count = 0;   // lines, the header included
    std::uint32_t next = kNone;  // the next section of the same name
    bool hasHeader = false;
    // Open-addressed table of the section's entries (line offset + 1, 0 for
    // free), for large sections only: the lists of data sources and drivers
    // grow with the machine, a data source's own section is cheaper to search.
    std::vector<std::uint32_t> keys;
  };

  std::uint32_t Find(std::string_view section) const;
  std::uint32_t FindKey(const Section &s, std::string_view key) const;
  std::string_view Name(const Section &s) const { return lines_[s.first].Name(); }
  Line MakeLine(std::string text);
  void InsertLine(std::uint32_t sectionIndex, std::uint32_t offset, const Line &line);
  void IndexKeys(Section &s);
  void IndexSections();

  std::vector<std::shared_ptr<const std::string>> storage_;
  std::vector<Line> lines_;
  std::vector<Section> sections_;  // sections_[0]: the lines before the first header
  std::vector<std::uint32_t> sectionTable_;  // open-addressed, section index + 1
  bool finalNewline_ = false;
  bool bom_ = false;
  Journal journal_;
};

template <typename Sink> bool Document::ForEachPiece(Sink &&sink) const {
  if (bom_ && !sink(std::string_view(kBom)))
    return false;
  // Every line's text is followed in memory by its line break when it was
  // parsed, else by the terminator of the string that holds it; so reading
  // one byte past a line is always allowed, and a run can only continue
  // within one buffer.
  const char *start = nullptr, *end = nullptr;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line &l = lines_[i];
    if (start == nullptr || l.text != end) {
      if (start != nullptr && !sink(std::string_view(start, static_cast<std::size_t>(end - start))))
        return false;
      start = l.text;
    }
    end = l.text + l.length;
    if (i + 1 == lines_.size() && !finalNewline_)
      break;
    if (*end == '\n') {
      ++end;
    } else {
      if (!sink(std::string_view(start, static_cast<std::size_t>(end - start))) ||
          !sink(std::string_view("\n", 1)))
        return false;
      start = nullptr;
    }
  }
  return start == nullptr || sink(std::string_view(start, static_cast<std::size_t>(end - start)));
}

} // namespace pinst

#endif
