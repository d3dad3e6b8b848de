// Conversion and parsing speed, side by side with glibc's mbstowcs/wcstombs
// in C.UTF-8. Run: build/bench/setup/text_bench
// "ours" runs what this processor gets; "ours_portable" the routines for
// processors without AVX-512, where the two differ.
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "core/attrs.h"
#include "core/parse.h"
#include "text/hvltext.h"
#include "text/utf8.h"

namespace {

// ASCII text, or mixed text of 60% one-byte, 20% two-byte and 20% three-byte
// forms, of about `bytes` bytes.
std::string make_text(std::size_t bytes, bool mixed) {
  std::mt19937 rng(42);
  std::string s;
  while (s.size() < bytes) {
    unsigned r = rng() % 10;
    if (!mixed || r < 6)
      s.push_back(static_cast<char>('a' + rng() % 26));
    else if (r < 8)
      s += "\xC3\xA9";
    else
      s += "\xE2\x82\xAC";
  }
  return s;
}

const std::string &text(int id) {
  static const std::string texts[4] = {make_text(64, false), make_text(64, true),
                                       make_text(1 << 20, false), make_text(1 << 20, true)};
  return texts[id];
}
const char *kNames[4] = {"ascii_64B", "mixed_64B", "ascii_1MiB", "mixed_1MiB"};

std::wstring wide_text(int id) {
  wchar_t *w = hvl::convert_char_to_wchar(text(id).c_str());
  std::wstring out(w);
  std::free(w);
  return out;
}

// Ours with the routines that this processor runs, or with the portable ones
// that a processor without AVX-512 runs (`portable`).
const hvl::detail::TextKernels &kernels(bool portable) {
  auto sets = hvl::detail::text_kernel_sets();
  return portable ? *sets.front() : *sets.back();
}

void ours_char_to_wchar(benchmark::State &st, int id, bool portable) {
  const std::string &s = text(id);
  const hvl::detail::TextKernels &k = kernels(portable);
  for (auto _ : st) {
    wchar_t *w = hvl::detail::convert_char_to_wchar(s.c_str(), k);
    benchmark::DoNotOptimize(w);
    std::free(w);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * s.size()));
}

// glibc with the same shape of work: measure, allocate once, convert.
void glibc_mbstowcs(benchmark::State &st, int id) {
  const std::string &s = text(id);
  for (auto _ : st) {
    std::size_t n = std::mbstowcs(nullptr, s.c_str(), 0);
    auto *w = static_cast<wchar_t *>(std::malloc((n + 1) * sizeof(wchar_t)));
    std::mbstowcs(w, s.c_str(), n + 1);
    benchmark::DoNotOptimize(w);
    std::free(w);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * s.size()));
}

// glibc's single pass into a buffer made beforehand: its cheapest use.
void glibc_mbstowcs_prealloc(benchmark::State &st, int id) {
  const std::string &s = text(id);
  std::vector<wchar_t> w(s.size() + 1);
  for (auto _ : st) {
    benchmark::DoNotOptimize(std::mbstowcs(w.data(), s.c_str(), w.size()));
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * s.size()));
}

void ours_wchar_to_char(benchmark::State &st, int id, bool portable) {
  std::wstring w = wide_text(id);
  const hvl::detail::TextKernels &k = kernels(portable);
  for (auto _ : st) {
    char *s = hvl::detail::convert_wchar_to_char(w.c_str(), k);
    benchmark::DoNotOptimize(s);
    std::free(s);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text(id).size()));
}

void glibc_wcstombs(benchmark::State &st, int id) {
  std::wstring w = wide_text(id);
  for (auto _ : st) {
    std::size_t n = std::wcstombs(nullptr, w.c_str(), 0);
    auto *s = static_cast<char *>(std::malloc(n + 1));
    std::wcstombs(s, w.c_str(), n + 1);
    benchmark::DoNotOptimize(s);
    std::free(s);
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text(id).size()));
}

void glibc_wcstombs_prealloc(benchmark::State &st, int id) {
  std::wstring w = wide_text(id);
  std::vector<char> s(text(id).size() + 1);
  for (auto _ : st) {
    benchmark::DoNotOptimize(std::wcstombs(s.data(), w.c_str(), s.size()));
    benchmark::ClobberMemory();
  }
  st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text(id).size()));
}

// The fifteen attributes as a host passes them.
const char kNarrowList[] =
    "DSN=sales\0Description=Sales figures\0SVT=Oracle 8.1.x\0FBS=60\0HOST=db.example.com\0"
    "PORT=1521\0DATABASE=orcl\0PROTO=TCP/IP\0OPTIONS=ora8\0READONLY=No\0UID=scott\0"
    "PWD=tiger\0NLB=No\0DLF=Yes\0ServerOptions=-q\0";
const wchar_t kWideList[] =
    L"DSN=sales\0Description=Sales figures\0SVT=Oracle 8.1.x\0FBS=60\0HOST=db.example.com\0"
    L"PORT=1521\0DATABASE=orcl\0PROTO=TCP/IP\0OPTIONS=ora8\0READONLY=No\0UID=scott\0"
    L"PWD=tiger\0NLB=No\0DLF=Yes\0ServerOptions=-q\0";

void parse_attributes(benchmark::State &st, bool wide) {
  hvl::AttrEntry *copy = hvl::MakeWorkingCopy();
  for (auto _ : st) {
    hvl::ParseAttributes(wide ? static_cast<const void *>(kWideList) : kNarrowList, copy,
                         wide ? 2 : 0);
    benchmark::DoNotOptimize(copy);
  }
  hvl::FreeWorkingCopy(copy);
}

// One direction on the four texts: ours (and ours_portable where it differs),
// then glibc's function `glibc` measuring first, then into a buffer made
// beforehand.
void register_direction(const std::string &direction,
                        void (*ours)(benchmark::State &, int, bool), const std::string &glibc,
                        void (*two_pass)(benchmark::State &, int),
                        void (*prealloc)(benchmark::State &, int)) {
  bool two_sets = hvl::detail::text_kernel_sets().size() > 1;
  for (int id = 0; id < 4; ++id) {
    std::string n = kNames[id];
    benchmark::RegisterBenchmark((direction + "/ours/" + n).c_str(), ours, id, false);
    if (two_sets)
      benchmark::RegisterBenchmark((direction + "/ours_portable/" + n).c_str(), ours, id, true);
    benchmark::RegisterBenchmark((direction + "/glibc_" + glibc + "/" + n).c_str(), two_pass, id);
    benchmark::RegisterBenchmark((direction + "/glibc_" + glibc + "_prealloc/" + n).c_str(),
                                 prealloc, id);
  }
}

} // namespace

int main(int argc, char **argv) {
  if (std::setlocale(LC_ALL, "C.UTF-8") == nullptr) {
    std::fprintf(stderr, "text_bench: no C.UTF-8 locale for the glibc comparison\n");
    return 1;
  }
  register_direction("char_to_wchar", ours_char_to_wchar, "mbstowcs", glibc_mbstowcs,
                     glibc_mbstowcs_prealloc);
  register_direction("wchar_to_char", ours_wchar_to_char, "wcstombs", glibc_wcstombs,
                     glibc_wcstombs_prealloc);
  benchmark::RegisterBenchmark("ParseAttributes/narrow_15", parse_attributes, false);
  benchmark::RegisterBenchmark("ParseAttributes/wide_15", parse_attributes, true);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
