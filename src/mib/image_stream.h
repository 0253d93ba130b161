// Sequential reading of a MIB image file through a buffer that holds only what the field
// at hand needs, so that reading an image costs no allocation sized by the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

namespace velk::mib {

class ImageStream {
public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    ImageStream() = default;
    ImageStream(const ImageStream&) = delete;
    ImageStream& operator=(const ImageStream&) = delete;
    ~ImageStream();

    // Opens the regular file at `path` (ANSI bytes). False when the name is empty or holds a
    // NUL, when the file does not exist or cannot be opened for reading, when it is not a
    // regular file (opening never waits on a device or pipe), when it is larger than `limit`
    // bytes, or when memory runs out. The size seen here bounds what is read; a read error
    // later reads as the end of the file.
    bool Open(std::string_view path, uint64_t limit);

    // Buffers up to `n` bytes at the cursor and returns how many are there: fewer than `n`
    // only when the file ends sooner. `n` is small (a fixed field size).
    size_t Ahead(size_t n) { return end_ - begin_ >= n ? n : Fill(n); }
    // The buffered bytes at the cursor; valid until the next call of a non-const member.
    const uint8_t* Cursor() const { return buffer_.get() + begin_; }
    // Moves the cursor by `n` bytes, at most the number Ahead or FindByte last reported.
    void Skip(size_t n) {
        begin_ += n;
        clean_ = clean_ > n ? clean_ - n : 0;
    }
    // Offset from the cursor of the first byte `b` of the rest of the file, buffering up to
    // it; npos when there is none. Every byte of the file is searched once however often this
    // is called (the stream remembers how far ahead it found no `b`), so each call must ask
    // for the same byte. Throws std::bad_alloc when a longer buffer cannot be had.
    size_t FindByte(uint8_t b) {
        const size_t have = end_ - begin_;
        if (clean_ < have) {
            if (const void* hit = std::memchr(Cursor() + clean_, b, have - clean_)) {
                clean_ = static_cast<size_t>(static_cast<const uint8_t*>(hit) - Cursor());
                return clean_;
            }
            clean_ = have;
        }
        return FindByteFurther(b);
    }

private:
    // Ahead and FindByte when the buffered bytes do not suffice.
    size_t Fill(size_t n);
    size_t FindByteFurther(uint8_t b);
    // Reads more of the file after the buffered bytes, moving them to the front and growing
    // the buffer when it is full; false at the end of the file.
    bool ReadMore();

    int fd_ = -1;
    uint64_t left_ = 0;  // bytes of the file not yet read
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_ = 0;
    size_t begin_ = 0;    // the cursor
    size_t end_ = 0;      // end of the buffered bytes
    size_t clean_ = 0;    // bytes from the cursor known to hold no searched byte
};

}  // namespace velk::mib
