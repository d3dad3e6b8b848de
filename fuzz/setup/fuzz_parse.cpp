// ParseAttributes on any narrow or wide list. The list is copied into an
// allocation that ends right after its final empty string, so ASan catches
// any read past it; the list must be unchanged afterwards, and every value
// terminated within its buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "core/attrs.h"
#include "core/parse.h"

namespace {
void check(const hvl::AttrEntry *table) {
  for (int i = 0; i < hvl::kAttrCount; ++i)
    if (std::wmemchr(table[i].value, 0, hvl::kValueSize) == nullptr || table[i].supplied > 1)
      std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0)
    return 0;
  hvl::AttrEntry *table = hvl::MakeWorkingCopy();
  bool wide = (data[0] & 1) != 0;
  ++data;
  --size;
  if (!wide) {
    std::vector<char> list(data, data + size);
    list.push_back(0);
    list.push_back(0);
    std::vector<char> before = list;
    auto *copy = static_cast<char *>(std::malloc(list.size()));
    std::memcpy(copy, list.data(), list.size());
    hvl::ParseAttributes(copy, table, 0);
    if (std::memcmp(copy, before.data(), before.size()) != 0)
      std::abort();
    std::free(copy);
  } else {
    std::size_t n = size / sizeof(wchar_t);
    auto *copy = static_cast<wchar_t *>(std::malloc((n + 2) * sizeof(wchar_t)));
    std::memcpy(copy, data, n * sizeof(wchar_t));
    copy[n] = 0;
    copy[n + 1] = 0;
    std::vector<wchar_t> before(copy, copy + n + 2);
    hvl::ParseAttributes(copy, table, 2);
    if (std::wmemcmp(copy, before.data(), n + 2) != 0)
      std::abort();
    std::free(copy);
  }
  check(table);
  hvl::FreeWorkingCopy(table);
  return 0;
}
