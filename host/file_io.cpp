#include "file_io.hpp"

#include "guards.hpp"

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

bool replace_file(const std::string &path, const std::string &content) {
    if (!make_parent_directories(path)) return false;
    struct stat old;
    bool existed = ::stat(path.c_str(), &old) == 0;
    std::string temporary = path + ".XXXXXX";
    lb::unique_fd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    // Keeping the owner is best effort: only a privileged process may.
    if (existed) (void)!::fchown(fd.get(), old.st_uid, old.st_gid);
    bool written = ::fchmod(fd.get(), existed ? old.st_mode & 07777 : 0644) == 0 &&
                   write_all(fd.get(), content) && ::fsync(fd.get()) == 0 &&
                   ::close(fd.release()) == 0;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    ::unlink(temporary.c_str());
    return false;
}

} // namespace host
