#include "toolkit/utf16.h"

namespace hvl::detail {

namespace {

void Append(std::u16string &out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  }
}

void Append(std::string &out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    auto b = static_cast<unsigned char>(in[i]);
    int more = b < 0x80 ? 0 : b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2
               : b >= 0xF0 && b < 0xF5                ? 3
                                                      : -1;
    if (more < 0 || i + static_cast<std::size_t>(more) >= in.size()) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    char32_t c = more == 0 ? b : b & (0x3F >> more);
    bool ok = true;
    for (int k = 1; k <= more; ++k) {
      auto f = static_cast<unsigned char>(in[i + static_cast<std::size_t>(k)]);
      if ((f & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = c << 6 | (f & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    if (ok && ((more == 2 && c < 0x800) || (more == 3 && (c < 0x10000 || c > 0x10FFFF)) ||
               (c >= 0xD800 && c < 0xE000)))
      ok = false;
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    Append(out, c);
    i += static_cast<std::size_t>(more) + 1;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    Append(out, c);
  }
  return out;
}

} // namespace hvl::detail
