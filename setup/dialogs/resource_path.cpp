#include "dialogs/resource_path.h"

#include <cstring>

namespace hvl {

bool ResourcePathFromExecutable(const char *executable, char *out, std::size_t size) {
  if (executable == nullptr || size == 0)
    return false;
  std::size_t len = std::strlen(executable);
  if (len + 1 > size)
    return false;
  std::memcpy(out, executable, len + 1);

  // The "/" before the executable's name, then the one before "MacOS". Both
  // searches stop at the second byte: a path's first "/" is never taken.
  std::size_t slash = 0;
  for (std::size_t i = len; i-- > 1;)
    if (out[i] == '/') {
      slash = i;
      break;
    }
  if (slash == 0)
    return false;
  std::size_t cut = 1; // right after the first byte when there is no second "/"
  for (std::size_t i = slash; i-- > 1;)
    if (out[i] == '/') {
      cut = i + 1;
      break;
    }
  if (cut + sizeof kResourceFile > size)
    return false;
  std::memcpy(out + cut, kResourceFile, sizeof kResourceFile);
  return true;
}

} // namespace hvl
