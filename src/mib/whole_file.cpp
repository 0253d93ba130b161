// Whole-file reads and writes.
#include "mib/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

namespace velk::mib {
namespace {

// Closes the descriptor on every path.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool UsablePath(std::string_view path) {
    return !path.empty() && path.find('\0') == std::string_view::npos;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool ReadWholeFile(std::string_view path, uint64_t limit, FileBytes* out) {
    out->data.reset();
    out->size = 0;
    if (!UsablePath(path)) return false;
    const std::string name(path);
    // Non-blocking: opening a FIFO or a device must not wait; such files are refused below.
    Fd file{::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (file.fd < 0) return false;
    struct stat info {};
    if (::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) return false;
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > limit) return false;
    // One byte more than needed, so that an empty file still has a buffer.
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size + 1]);
    if (!data) return false;
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(file.fd, data.get() + got, size - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out->data = std::move(data);
    out->size = got;
    return true;
}

bool ReplaceWholeFile(std::string_view path, std::string_view bytes) {
    if (!UsablePath(path)) return false;
    const std::string target(path);
    // The new file's name differs from any other writer's (process id), and from a stale
    // file that an earlier process of the same id left behind (attempt number).
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = target + ".tmp" + std::to_string(::getpid()) + "-" +
                                 std::to_string(attempt);
        Fd file{::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666)};
        if (file.fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        const bool written = WriteAll(file.fd, bytes) && ::fsync(file.fd) == 0;
        const int fd = file.fd;
        file.fd = -1;
        if (::close(fd) != 0 || !written || std::rename(temp.c_str(), target.c_str()) != 0) {
            ::unlink(temp.c_str());
            return false;
        }
        return true;
    }
    return false;
}

}  // namespace velk::mib
