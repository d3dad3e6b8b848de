// State shared by the entry points: the configuration mode, the per-thread
// error queue, the files of each configuration, text conversion and the
// checks that keep names and values from changing a file's structure.
#ifndef PELMARINST_COMMON_H
#define PELMARINST_COMMON_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "pelmarinst.h"
#include "store.h"

// Per-thread state of the library lives in the static TLS block that the
// program reserves for libraries loaded later: cheaper to reach than
// dynamically allocated TLS, and some leak checkers misread the latter in
// a library that was loaded with dlopen. The library's few words fit easily.
#define PINST_THREAD_LOCAL thread_local __attribute__((tls_model("initial-exec")))

namespace pinst {

// The mode is one per process, as hosts and the setup libraries they load
// share it.
std::uint16_t Mode();
void SetMode(std::uint16_t mode);

void ClearErrors();
// Appends to the calling thread's queue; beyond 8 entries the later ones are
// dropped, so that the first cause stays first.
void PostError(DWORD code, std::string message = {});
std::size_t ErrorCount();
// The message of entry index (from 1): the posted one or the standard text.
bool ErrorAt(std::size_t index, DWORD *code, std::string *message);
const char *StandardText(DWORD code);

enum class Config { kDataSources, kDrivers };

struct File {
  std::string path;
  NewFile how;
};

// The files of a configuration in reading order: user then system for mode
// both, one of them otherwise.
std::vector<File> FilesOf(Config config, std::uint16_t mode);
// Both files of a configuration in reading order, whatever the mode.
std::vector<File> AllFilesOf(Config config);

// UTF-8 <-> wide. The strict forms refuse malformed input; the lossy decode
// (for text read from files) puts U+FFFD for each malformed byte.
bool Utf8ToWide(std::string_view in, std::wstring *out);
std::wstring Utf8ToWideLossy(std::string_view in);
bool WideToUtf8(const wchar_t *in, std::size_t len, std::string *out);
bool ValidUtf8(std::string_view s);

// The structural checks of names and values that are written. Each posts the
// error and returns false when the text would change the file's structure.
bool CheckSection(std::string_view s, DWORD code = ODBC_ERROR_INVALID_NAME);
bool CheckKey(std::string_view s);
bool CheckValue(std::string_view s);
// SQLValidDSN's rule, without posting.
bool IsValidDsn(std::string_view dsn);

// The longest prefix of s of at most max bytes that ends on a character
// boundary.
std::size_t CutUtf8(std::string_view s, std::size_t max);

// Runs the body of an entry point: nothing thrown inside crosses the C
// boundary. Running out of memory posts ODBC_ERROR_OUT_OF_MEM, anything else
// ODBC_ERROR_GENERAL_ERR, and `failed` is returned.
template <typename Result, typename Body>
Result Guard(Result failed, Body body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc &) {
    PostError(ODBC_ERROR_OUT_OF_MEM);
  } catch (...) {
    PostError(ODBC_ERROR_GENERAL_ERR);
  }
  return failed;
}

} // namespace pinst

#endif
