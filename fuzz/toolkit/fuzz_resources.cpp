// The resource file parser and the UTF-8/UTF-16 conversions of the toolkit
// layer on arbitrary bytes: no crash, and what they give is well formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "toolkit/platform.h"
#include "toolkit/utf16.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::string error;
  auto alerts = hvl::ParseResourceText(text, &error);
  if (alerts) {
    for (const auto &[id, alert] : *alerts)
      if (id < 1 || alert.id != id || alert.message.empty() || alert.buttons.empty())
        std::abort();
  } else if (error.rfind("line ", 0) != 0) {
    std::abort();
  }

  // Decoding then encoding gives well-formed UTF-8 that decodes to the same
  // units again.
  std::u16string units = hvl::detail::Utf8ToUtf16(text);
  std::string utf8 = hvl::detail::Utf16ToUtf8(units);
  if (hvl::detail::Utf8ToUtf16(utf8) != units)
    std::abort();
  return 0;
}
