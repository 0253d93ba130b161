// Reading a MIB file whole.
#include "mib/mib_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include "mib/ansi_text.h"

namespace velk::mib {
namespace {

// Closes the descriptor on every path.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

MibSource::MibSource() { Empty(); }

bool MibSource::Reserve(uint64_t bytes) {
    if (bytes <= capacity_) return true;
    std::unique_ptr<char[]> grown(new (std::nothrow) char[bytes]);
    if (!grown) return false;
    buffer_ = std::move(grown);
    capacity_ = static_cast<uint32_t>(bytes);
    return true;
}

void MibSource::Empty() {
    size_ = 0;
    if (!buffer_ && !Reserve(1)) return;
    buffer_[0] = '\0';
}

int MibSource::LoadFile(BSTR fileName) {
    return LoadFile(Narrow(BstrView(fileName)));
}

int MibSource::LoadFile(std::string_view fileName) {
    Reset();
    Empty();
    if (!buffer_ || fileName.empty() || fileName.find('\0') != std::string_view::npos) return -1;
    const std::string path(fileName);
    // Non-blocking: opening a FIFO or a device must not wait; such files are refused below.
    Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (file.fd < 0) return -1;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    if (info.st_size < 0 || fileSize > kMaxFileSize) return -1;
    if (!Reserve(fileSize + 1)) return -1;
    // The file may change while it is read: take at most the size seen, stop at its end.
    size_t got = 0;
    while (got < fileSize) {
        const ssize_t n = ::read(file.fd, buffer_.get() + got, fileSize - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            buffer_[0] = '\0';
            return -1;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    buffer_[got] = '\0';
    // A NUL inside the file ends the text.
    const void* nul = std::memchr(buffer_.get(), '\0', got);
    size_ = nul ? static_cast<size_t>(static_cast<const char*>(nul) - buffer_.get()) : got;
    return 0;
}

bool MibSource::SetText(std::string_view text) {
    Reset();
    Empty();
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    if (text.size() > kMaxFileSize || !Reserve(static_cast<uint64_t>(text.size()) + 1)) return false;
    if (!text.empty()) std::memcpy(buffer_.get(), text.data(), text.size());
    buffer_[text.size()] = '\0';
    size_ = text.size();
    return true;
}

}  // namespace velk::mib
