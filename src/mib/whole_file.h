// Writing a file whole (binary: NUL bytes are data), for MIB image files.
#pragma once

#include <string_view>

namespace velk::mib {

// Replaces the file at `path` by `bytes`: they are written to a new file beside it that is
// then renamed over it, so a failed write leaves any earlier file unchanged. False when the
// name is empty or holds a NUL, or when creating, writing or renaming fails (the new file is
// then removed).
bool ReplaceWholeFile(std::string_view path, std::string_view bytes);

}  // namespace velk::mib
