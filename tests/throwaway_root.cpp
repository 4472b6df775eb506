// throwaway_root: runs a command in a disposable copy of the root file system.
//
//   throwaway_root COMMAND [ARGS...]
//
// Private mount namespace, tmpfs holding an overlay upper layer over "/",
// /dev, /proc, /sys and /tmp bound in, then chroot. Whatever the command
// writes to fixed system paths (/var/log, /migadmin, /etc, ...) disappears
// with the namespace when it exits. Needs root (CAP_SYS_ADMIN). The command
// sees LOGBASE_THROWAWAY_ROOT=1 in its environment.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

[[noreturn]] void die(const char *what) {
    std::fprintf(stderr, "throwaway_root: %s: %s\n", what, std::strerror(errno));
    std::exit(125);
}

void must(int rc, const char *what) {
    if (rc != 0) die(what);
}

std::string make_overlay_root() {
    char dir[] = "/tmp/throwaway-root.XXXXXX";
    if (mkdtemp(dir) == nullptr) die("mkdtemp");
    std::string base = dir;
    // The upper layer must not live inside the lower one ("/"), so it gets a
    // file system of its own.
    must(mount("tmpfs", base.c_str(), "tmpfs", 0, "mode=0755"), "mount tmpfs");
    for (const char *sub : {"/upper", "/work", "/root"})
        must(mkdir((base + sub).c_str(), 0755), "mkdir");
    std::string opts = "lowerdir=/,upperdir=" + base + "/upper,workdir=" + base + "/work";
    must(mount("overlay", (base + "/root").c_str(), "overlay", 0, opts.c_str()), "mount overlay");
    for (const char *fs : {"/dev", "/proc", "/sys", "/tmp"})
        must(mount(fs, (base + "/root" + fs).c_str(), nullptr, MS_BIND | MS_REC, nullptr),
             "bind mount");
    return base;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: throwaway_root COMMAND [ARGS...]\n");
        return 125;
    }
    must(unshare(CLONE_NEWNS), "unshare (needs root)");
    must(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), "make mounts private");

    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) die("getcwd");
    std::string base = make_overlay_root();

    pid_t child = fork();
    if (child < 0) die("fork");
    if (child == 0) {
        must(chroot((base + "/root").c_str()), "chroot");
        must(chdir(cwd), "chdir");
        // Lets a program that rewrites system files make sure it is inside.
        setenv("LOGBASE_THROWAWAY_ROOT", "1", 1);
        execvp(argv[1], argv + 1);
        die("exec");
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    umount2(base.c_str(), MNT_DETACH);
    rmdir(base.c_str());
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
