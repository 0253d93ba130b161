// Whole-file writes.
#include "mib/whole_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
