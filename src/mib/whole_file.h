// Reading and writing a file whole, for MIB image files (binary: NUL bytes are data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace velk::mib {

struct FileBytes {
    std::unique_ptr<uint8_t[]> data;
    size_t size = 0;
};

// Reads the regular file at `path` (bytes of the ANSI code page) whole into `out`. False,
// with `out` empty, when the name is empty or holds a NUL, when the file does not exist or
// cannot be opened for reading, when it is not a regular file (a directory, a device, a
// pipe: opening never waits on one), when it is larger than `limit` bytes, or when reading
// fails or memory runs out. The size seen when opening bounds the read: a file that grows
// meanwhile is cut there, one that shrinks gives what is left.
bool ReadWholeFile(std::string_view path, uint64_t limit, FileBytes* out);

// Replaces the file at `path` by `bytes`: they are written to a new file beside it that is
// then renamed over it, so a failed write leaves any earlier file unchanged. False when the
// name is empty or holds a NUL, or when creating, writing or renaming fails (the new file is
// then removed).
bool ReplaceWholeFile(std::string_view path, std::string_view bytes);

}  // namespace velk::mib
