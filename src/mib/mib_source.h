// MibSource: the text of one MIB file, read whole into a buffer that is reused for every
// file an SnmpMib reads. The text is single-byte (ANSI code page) and always followed by a
// NUL byte; a NUL inside the file ends the text there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "velk/oleauto.h"

namespace velk::mib {

class MibSource {
public:
    // Largest file read; a larger one is refused like a file that cannot be opened.
    static constexpr uint64_t kMaxFileSize = 256ull * 1024 * 1024;

    MibSource();
    MibSource(const MibSource&) = delete;
    MibSource& operator=(const MibSource&) = delete;

    // Reads the file named `fileName` (converted to the ANSI code page) into the buffer.
    // Returns 0, or -1 when the name is empty or holds a NUL, when the file does not exist
    // or cannot be opened for reading, when it is not a regular file (a directory, a device,
    // a pipe), when it is larger than kMaxFileSize, or when reading fails. Opening never
    // waits on a device. Position and line are reset first, so after a failure the text is
    // empty.
    int LoadFile(BSTR fileName);
    // The same with the name already in bytes.
    int LoadFile(std::string_view fileName);

    // Replaces the text by a copy of `text` (up to its first NUL) and resets; for tests and
    // for callers that hold MIB text in memory. False when memory runs out (the text is
    // then empty).
    bool SetText(std::string_view text);

    // Position to the start of the text, line to 1.
    void Reset() {
        position_ = 0;
        line_ = 1;
    }

    // The text, without the terminating NUL; Data()[Size()] is NUL.
    const char* Data() const { return buffer_ ? buffer_.get() : ""; }
    size_t Size() const { return size_; }
    std::string_view Text() const { return {Data(), size_}; }

    // Where the next token search starts (an offset into the text, at most Size()).
    size_t Position() const { return position_; }
    void SetPosition(size_t position) { position_ = position <= size_ ? position : size_; }
    // Line counter of the line tokenizer; starts at 1.
    uint32_t Line() const { return line_; }
    void SetLine(uint32_t line) { line_ = line; }

    // Size of the buffer: it grows to the file size + 1 when a larger file comes and is
    // never shrunk.
    uint32_t Capacity() const { return capacity_; }

private:
    bool Reserve(uint64_t bytes);
    void Empty();

    std::unique_ptr<char[]> buffer_;
    uint32_t capacity_ = 0;
    size_t size_ = 0;
    size_t position_ = 0;
    uint32_t line_ = 1;
};

}  // namespace velk::mib
