#include "core/attrs.h"

#include <cstdlib>
#include <cstring>

namespace hvl {

namespace {
constexpr AttrEntry entry(const wchar_t *connKey, const wchar_t *iniKey, std::int32_t kind,
                          std::int16_t maxLen, const wchar_t *defValue) {
  return AttrEntry{connKey, iniKey, kind, maxLen, defValue, 0, nullptr, {}};
}
} // namespace

// The order matters: it decides which entry a key reaches first, the order in
// which values are written back and the order of connection string pairs.
const AttrEntry attrs[kAttrCount] = {
    entry(L"DSN", nullptr, ATTR_TEXT, 33, L""),
    entry(nullptr, L"Description", ATTR_TEXT, 256, L""),
    entry(L"SVT", L"ServerType", ATTR_MENU, 81, L""),
    entry(L"FBS", L"FetchBufferSize", ATTR_TEXT, 6, L"30"),
    entry(L"HOST", L"Host", ATTR_TEXT, 81, L"localhost"),
    entry(L"PORT", L"Port", ATTR_TEXT, 6, L"5000"),
    entry(L"DATABASE", L"Database", ATTR_TEXT, 256, L""),
    entry(L"PROTO", L"Protocol", ATTR_MENU, 21, L""),
    entry(L"OPTIONS", L"Options", ATTR_TEXT, 256, L""),
    entry(L"READONLY", L"ReadOnly", ATTR_YESNO, 3, L"No"),
    entry(L"UID", L"UserName", ATTR_TEXT, 41, L""),
    entry(L"PWD", L"Password", ATTR_TEXT, 41, L""),
    entry(L"NLB", L"NoLoginBox", ATTR_YESNO, 3, L"No"),
    entry(L"DLF", L"DeferLongFetch", ATTR_YESNO, 3, L"Yes"),
    entry(nullptr, L"ServerOptions", ATTR_TEXT, 256, L""),
};

AttrEntry *MakeWorkingCopy() {
  auto *copy = static_cast<AttrEntry *>(std::malloc(sizeof attrs));
  if (copy == nullptr)
    return nullptr;
  for (int i = 0; i < kAttrCount; ++i) {
    std::memcpy(&copy[i], &attrs[i], sizeof(AttrEntry));
    copy[i].control = nullptr;
  }
  return copy;
}

void FreeWorkingCopy(AttrEntry *copy) { std::free(copy); }

} // namespace hvl
