// UTF-8 and UTF-16 for the toolkit's files and paths.
#ifndef HVL_TOOLKIT_UTF16_H
#define HVL_TOOLKIT_UTF16_H

#include <string>
#include <string_view>

namespace hvl::detail {

// Decodes UTF-8; a byte that does not start a well-formed sequence becomes
// U+FFFD, characters beyond U+FFFF become surrogate pairs.
std::u16string Utf8ToUtf16(std::string_view utf8);

// Encodes UTF-16; a surrogate without its partner becomes U+FFFD, so the
// result is always well-formed UTF-8.
std::string Utf16ToUtf8(std::u16string_view utf16);

} // namespace hvl::detail

#endif
