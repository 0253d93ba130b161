// ImageStream.
#include "mib/image_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

namespace velk::mib {
namespace {

// Bytes read at a time: large enough that read calls, which cost microseconds each, are
// few; below the allocator's 128 KiB threshold for mapping blocks of their own, whose pages
// would fault in anew on every load.
constexpr size_t kChunk = 64 * 1024;

}  // namespace

ImageStream::~ImageStream() {
    if (fd_ >= 0) ::close(fd_);
}

bool ImageStream::Open(std::string_view path, uint64_t limit) {
    if (path.empty() || path.find('\0') != std::string_view::npos || fd_ >= 0) return false;
    const std::string name(path);
    // Non-blocking: opening a FIFO or a device must not wait; such files are refused below.
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) return false;
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<uint64_t>(info.st_size) > limit)
        return false;
    left_ = static_cast<uint64_t>(info.st_size);
    capacity_ = left_ < kChunk ? static_cast<size_t>(left_) + 1 : kChunk;
    buffer_.reset(new (std::nothrow) uint8_t[capacity_]);
    return buffer_ != nullptr;
}

bool ImageStream::ReadMore() {
    if (left_ == 0 || !buffer_) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (end_ == capacity_) {
        // A field longer than the buffer: grow it, never beyond what the file holds.
        const uint64_t whole = end_ + left_;
        const size_t grown = whole < capacity_ * 2 ? static_cast<size_t>(whole) : capacity_ * 2;
        std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[grown]);
        if (!bigger) throw std::bad_alloc();
        std::memcpy(bigger.get(), buffer_.get(), end_);
        buffer_ = std::move(bigger);
        capacity_ = grown;
    }
    const size_t room = capacity_ - end_;
    const size_t want = left_ < room ? static_cast<size_t>(left_) : room;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer_.get() + end_, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            left_ = 0;  // an error or a file cut short ends it here
            return false;
        }
        end_ += static_cast<size_t>(n);
        left_ -= static_cast<uint64_t>(n);
        return true;
    }
}

size_t ImageStream::Fill(size_t n) {
    while (end_ - begin_ < n && ReadMore()) {
    }
    const size_t have = end_ - begin_;
    return have < n ? have : n;
}

size_t ImageStream::FindByteFurther(uint8_t b) {
    while (ReadMore()) {
        const size_t have = end_ - begin_;
        if (const void* hit = std::memchr(Cursor() + clean_, b, have - clean_)) {
            clean_ = static_cast<size_t>(static_cast<const uint8_t*>(hit) - Cursor());
            return clean_;
        }
        clean_ = have;
    }
    return npos;
}

}  // namespace velk::mib
