#include "host/file_io.hpp"

#include "internal/guards.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

bool make_directories(const std::string &dir) {
    if (dir.empty() || dir == "/" || dir == ".") return true;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    if (!make_directories(parent_of(dir))) return false;
    return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

bool write_all(int fd, const std::string &content) {
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::string parent_of(const std::string &path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool make_parent_directories(const std::string &path) {
    return make_directories(parent_of(path));
}

std::optional<std::string> read_whole(const std::string &path) {
    lb::unique_fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return std::nullopt;
    std::string content;
    char chunk[4096];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return content;
        content.append(chunk, static_cast<size_t>(n));
    }
}

bool replace_file(const std::string &path, const std::string &content) {
    if (!make_parent_directories(path)) return false;
    std::string temporary = path + ".XXXXXX";
    lb::unique_fd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    bool written = ::fchmod(fd.get(), 0644) == 0 && write_all(fd.get(), content) &&
                   ::fsync(fd.get()) == 0 && ::close(fd.release()) == 0;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

} // namespace host
