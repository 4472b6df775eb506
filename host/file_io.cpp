#include "file_io.hpp"

#include "guards.hpp"

#include <cerrno>
#include <climits>
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

std::optional<std::string> final_target(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        // A missing file (or one lstat cannot see) is where the chain ends;
        // the read that follows reports what is wrong with it.
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<size_t>(n) >= target.size()) return std::nullopt;
        target.resize(static_cast<size_t>(n));
        path = target[0] == '/' ? target : parent_of(path) + "/" + target;
    }
    return std::nullopt;
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
