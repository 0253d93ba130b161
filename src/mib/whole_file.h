// Reading and writing a file whole, for MIB image files (binary: NUL bytes are data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace velk::mib {

// Bytes of a file; large ones live in pages of their own, so that reading one does not
// churn the heap.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { Free(); }

    const uint8_t* Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    friend bool ReadWholeFile(std::string_view path, uint64_t limit, FileBytes* out);
    bool Allocate(size_t bytes);
    void Free();

    uint8_t* data_ = nullptr;
    size_t capacity_ = 0;  // bytes allocated
    size_t size_ = 0;      // bytes read
    bool mapped_ = false;
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
