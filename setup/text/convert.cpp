// GCC 12 warns of its own AVX-512 intrinsics that they read an uninitialized
// value (the undefined vectors that they start from, GCC bug 105593), at the
// place where they are inlined; the warnings are off for this file, before
// the intrinsics' headers come in.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "text/hvltext.h"
#include "text/utf8.h"

#include "text/blocks.h"
#include "text/blocks_avx512.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

namespace hvl {

namespace detail {

namespace {

const unsigned char *bytes_of(const char *s) { return reinterpret_cast<const unsigned char *>(s); }

// Both directions measure the text first, then make its one allocation of
// exactly that size and convert into it.
template <class Blocks> wchar_t *to_wide(const char *utf8) {
  std::size_t len = std::strlen(utf8);
  std::size_t count = count_utf8<Blocks>(bytes_of(utf8), len);
  auto *wide = static_cast<wchar_t *>(std::malloc((count + 1) * sizeof(wchar_t)));
  if (wide == nullptr)
    return nullptr;
  count = decode_utf8<Blocks>(bytes_of(utf8), len, wide, count);
  wide[count] = 0;
  return wide;
}

template <class Blocks> char *to_utf8(const wchar_t *wide) {
  std::size_t len = std::wcslen(wide);
  std::size_t bytes = utf8_size<Blocks>(wide, len);
  auto *out = static_cast<char *>(std::malloc(bytes + 1));
  if (out == nullptr)
    return nullptr;
  bytes = encode_utf8<Blocks>(wide, len, reinterpret_cast<unsigned char *>(out), bytes);
  out[bytes] = 0;
  return out;
}

std::size_t count_portable(const char *s, std::size_t len) {
  return count_utf8<Utf8Blocks>(bytes_of(s), len);
}
std::size_t decode_portable(const char *s, std::size_t len, wchar_t *out, std::size_t max) {
  return decode_utf8<Utf8Blocks>(bytes_of(s), len, out, max);
}
std::size_t size_portable(const wchar_t *w, std::size_t len) { return utf8_size<WideBlocks>(w, len); }
std::size_t encode_portable(const wchar_t *w, std::size_t len, char *out, std::size_t room) {
  return encode_utf8<WideBlocks>(w, len, reinterpret_cast<unsigned char *>(out), room);
}
constexpr TextKernels kPortable{"portable",         count_portable,   decode_portable,
                                size_portable,      encode_portable,  to_wide<Utf8Blocks>,
                                to_utf8<WideBlocks>};

#if defined(HVL_TEXT_AVX512)
// The drivers are compiled again for AVX-512: flatten inlines them, and the
// block routines that they call, into these functions, which carry the target.
[[HVL_AVX512, gnu::flatten]] std::size_t count_avx512(const char *s, std::size_t len) {
  return count_utf8<Utf8Blocks512>(bytes_of(s), len);
}
[[HVL_AVX512, gnu::flatten]] std::size_t decode_avx512(const char *s, std::size_t len, wchar_t *out,
                                                       std::size_t max) {
  return decode_utf8<Utf8Blocks512>(bytes_of(s), len, out, max);
}
[[HVL_AVX512, gnu::flatten]] std::size_t size_avx512(const wchar_t *w, std::size_t len) {
  return utf8_size<WideBlocks512>(w, len);
}
[[HVL_AVX512, gnu::flatten]] std::size_t encode_avx512(const wchar_t *w, std::size_t len,
                                                       char *out, std::size_t room) {
  return encode_utf8<WideBlocks512>(w, len, reinterpret_cast<unsigned char *>(out), room);
}
[[HVL_AVX512, gnu::flatten]] wchar_t *to_wide_avx512(const char *utf8) {
  return to_wide<Utf8Blocks512>(utf8);
}
[[HVL_AVX512, gnu::flatten]] char *to_utf8_avx512(const wchar_t *wide) {
  return to_utf8<WideBlocks512>(wide);
}
constexpr TextKernels kAvx512{"avx512",      count_avx512,   decode_avx512, size_avx512,
                              encode_avx512, to_wide_avx512, to_utf8_avx512};

bool has_avx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512cd") &&
         __builtin_cpu_supports("avx512vbmi2") &&
         __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
         __builtin_cpu_supports("popcnt");
}
#endif

struct KernelSets {
  const TextKernels *sets[2] = {&kPortable, nullptr};
  std::size_t count = 1;
  KernelSets() {
#if defined(HVL_TEXT_AVX512)
    if (has_avx512())
      sets[count++] = &kAvx512;
#endif
  }
};

// Chosen once, on first use, by what the processor has.
const KernelSets &kernel_sets() {
  static const KernelSets sets;
  return sets;
}

const TextKernels &active() {
  const KernelSets &k = kernel_sets();
  return *k.sets[k.count - 1];
}

} // namespace

std::span<const TextKernels *const> text_kernel_sets() {
  const KernelSets &k = kernel_sets();
  return {k.sets, k.count};
}

std::size_t utf8_count(const char *s, std::size_t len) { return active().count(s, len); }

std::size_t utf8_decode(const char *s, std::size_t len, wchar_t *out, std::size_t max) {
  return active().decode(s, len, out, max);
}

wchar_t *convert_char_to_wchar(const char *utf8, const TextKernels &k) {
  return utf8 != nullptr ? k.to_wide(utf8) : nullptr;
}

char *convert_wchar_to_char(const wchar_t *wide, const TextKernels &k) {
  return wide != nullptr ? k.to_utf8(wide) : nullptr;
}

} // namespace detail

wchar_t *convert_char_to_wchar(const char *utf8) {
  return detail::convert_char_to_wchar(utf8, detail::active());
}

char *convert_wchar_to_char(const wchar_t *wide) {
  return detail::convert_wchar_to_char(wide, detail::active());
}

wchar_t *convert_CFString_to_wchar(const PlatformString *s) {
  if (s == nullptr)
    return nullptr;
  std::size_t len = s->size();
  auto *wide = static_cast<wchar_t *>(std::malloc((len + 1) * sizeof(wchar_t)));
  if (wide == nullptr)
    return nullptr;
  for (std::size_t i = 0; i < len; ++i)
    wide[i] = static_cast<wchar_t>((*s)[i]);
  wide[len] = 0;
  return wide;
}

std::optional<PlatformString> convert_wchar_to_CFString(const wchar_t *wide) {
  if (wide == nullptr)
    return std::nullopt;
  try {
    PlatformString s;
    s.reserve(std::wcslen(wide));
    for (const wchar_t *p = wide; *p != 0; ++p)
      s.push_back(static_cast<char16_t>(static_cast<std::uint32_t>(*p) & 0xFFFFu));
    return s;
  } catch (const std::bad_alloc &) {
    return std::nullopt;
  }
}

} // namespace hvl
