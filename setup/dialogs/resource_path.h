// Where the About box's resource file lies, from the setup library's path.
#ifndef HVL_DIALOGS_RESOURCE_PATH_H
#define HVL_DIALOGS_RESOURCE_PATH_H

#include <cstddef>

namespace hvl {

// The resource file's name inside the bundle's Contents folder.
inline constexpr char kResourceFile[] = "Resources/Halvern Generic ODBC Driver.rsrc";

// Turns the path of the library's executable, ".../Contents/MacOS/<name>", into
// the resource file's path, ".../Contents/Resources/Halvern Generic ODBC
// Driver.rsrc", in `out` (`size` bytes, the About box passes 2048): the text
// after the second-last "/" (searched from the last byte down to the second)
// is replaced by kResourceFile. Returns false, with `out` unusable, when the
// path has no "/" after its first byte, or does not fit `out` before or after
// the change.
bool ResourcePathFromExecutable(const char *executable, char *out, std::size_t size);

} // namespace hvl

#endif
