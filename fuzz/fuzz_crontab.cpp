// Crontab files of any bytes through a sequence of add and remove operations
// of the host crontab service, reached through a symbolic link, with reads,
// writes, fsyncs, renames and closes that fail or transfer only a few bytes.
// The failures come from link-time wrappers (-Wl,--wrap) over the service's
// own objects, which this harness links in; the host layer has no test hook.
//
// After every operation: the lines that do not hold the command are all
// still there, byte for byte and in order; a line that was added is one cron
// reads, with the operation's fields and command; a failed system call left
// the file exactly as it was; no temporary file is left behind; and without
// an injected failure the operation did what it was asked.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fuzz_input.hpp"
#include "host_store.h"
#include "logbase_host.h"

namespace {

// Injection state: armed only around one update_crontab call.
bool armed = false;
int fail_at = 0; // the n-th wrapped call fails (0: none)
bool short_io = false;
int calls = 0;
bool fired = false;

bool should_fail() {
    if (!armed) return false;
    if (++calls != fail_at) return false;
    fired = true;
    errno = EIO;
    return true;
}

size_t io_size(size_t count) {
    return armed && short_io && count > 3 ? 3 : count;
}

} // namespace

extern "C" {
ssize_t __real_read(int, void *, size_t);
ssize_t __real_write(int, const void *, size_t);
int __real_fsync(int);
int __real_rename(const char *, const char *);
int __real_close(int);

ssize_t __wrap_read(int fd, void *buf, size_t count) {
    return should_fail() ? -1 : __real_read(fd, buf, io_size(count));
}
ssize_t __wrap_write(int fd, const void *buf, size_t count) {
    return should_fail() ? -1 : __real_write(fd, buf, io_size(count));
}
int __wrap_fsync(int fd) {
    return should_fail() ? -1 : __real_fsync(fd);
}
int __wrap_rename(const char *from, const char *to) {
    return should_fail() ? -1 : __real_rename(from, to);
}
// Linux releases the descriptor even when close reports an error.
int __wrap_close(int fd) {
    int rc = __real_close(fd);
    return should_fail() ? -1 : rc;
}
}

namespace {

namespace fs = std::filesystem;
using fuzz::check;

std::string dir, real_file, link_file;

std::optional<std::string> contents(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The harness splits lines its own way, apart from the service it checks.
std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

struct Operation {
    int op;
    std::string fields[5];
    std::string command;

    bool entry_ok() const {
        return fuzz::cron_fields({fields[0], fields[1], fields[2], fields[3], fields[4]}, true);
    }
    // Commands the service takes: one line, no blank at either end.
    bool command_ok() const {
        return !command.empty() && command.find_first_of("\r\n") == command.npos &&
               command.find_first_not_of(" \t") == 0 &&
               command.find_last_not_of(" \t") == command.size() - 1;
    }
    std::string written_command() const {
        std::string out;
        for (char c : command) {
            if (c == '%') out += '\\';
            out += c;
        }
        return out;
    }
    std::string line() const {
        return fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3] + " " + fields[4] +
               " " + written_command();
    }
};

// Control byte (operation, failure mode), the failing call's number, then
// up to six texts split at 0x01: five fields and the command.
Operation parse(std::string_view chunk) {
    Operation o{CRON_ADD_OR_REPLACE, {"0", "1", "*", "*", "*"}, "/bin/run_sch_rpt add r root"};
    if (chunk.empty()) return o;
    uint8_t control = static_cast<uint8_t>(chunk[0]);
    o.op = control & 1 ? CRON_REMOVE : CRON_ADD_OR_REPLACE;
    short_io = control & 2;
    fail_at = control & 4 && chunk.size() > 1 ? static_cast<uint8_t>(chunk[1]) % 32 + 1 : 0;
    std::string_view rest = chunk.substr(std::min<size_t>(2, chunk.size()));
    for (int part = 0; part < 6 && !rest.empty(); ++part) {
        size_t cut = rest.find('\x01');
        std::string text(rest.substr(0, cut));
        (part < 5 ? o.fields[part] : o.command) = text;
        rest = cut == rest.npos ? std::string_view{} : rest.substr(cut + 1);
    }
    return o;
}

std::vector<std::string> without(const std::vector<std::string> &lines, const std::string &text) {
    std::vector<std::string> out;
    for (const std::string &line : lines)
        if (line.find(text) == std::string::npos) out.push_back(line);
    return out;
}

void no_debris() {
    for (const auto &entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename();
        check(name == "real" || name == "link" || name == "crontab.lock", "no temporary file left");
    }
}

void put(const std::optional<std::string> &text) {
    unlink(real_file.c_str());
    if (text) fuzz::write_file(real_file, text->data(), text->size());
}

int attempt(const Operation &o, bool inject) {
    calls = 0;
    fired = false;
    const cron_entry entry = {o.fields[0].c_str(), o.fields[1].c_str(), o.fields[2].c_str(),
                              o.fields[3].c_str(), o.fields[4].c_str()};
    armed = inject;
    int rc = update_crontab(o.op, &entry, o.command.c_str());
    armed = false;
    return rc;
}

// After an injected failure the file is the old one or the whole new one
// (what the same operation writes when nothing fails), and a success
// claimed despite the failure means the new one.
void old_or_new(const Operation &o, const std::optional<std::string> &old,
                const std::optional<std::string> &now, int rc) {
    put(old);
    (void)attempt(o, false);
    std::optional<std::string> full = contents(real_file);
    check(now == old || now == full, "a failed call leaves the old or the whole new file");
    check(rc != 0 || now == full, "success means the new file");
    put(now);
    fired = true;
}

int run(const Operation &o) {
    std::optional<std::string> old = contents(real_file);
    int rc = attempt(o, fail_at != 0 || short_io);
    std::optional<std::string> now = contents(real_file);

    struct stat st;
    check(lstat(link_file.c_str(), &st) == 0 && S_ISLNK(st.st_mode), "the link stays a link");
    no_debris();
    if (fired) old_or_new(o, old, now, rc);
    check(o.command_ok() || (rc == -1 && now == old), "a command no line could match is refused");
    if (now == old) return rc;
    check(now.has_value(), "the file is not removed");

    // Lines without the command survive; what is new is the entry's line.
    std::string command = o.written_command();
    std::vector<std::string> before = lines_of(old.value_or("")), after = lines_of(*now);
    check(without(before, command) == without(after, command), "other lines kept in order");
    int added = 0;
    for (const std::string &line : after) {
        if (line.find(command) == std::string::npos) continue;
        if (auto old_line = std::find(before.begin(), before.end(), line);
            old_line != before.end()) {
            old_line->clear(); // each old line accounts for one new one
            continue;
        }
        ++added;
        check(o.op == CRON_ADD_OR_REPLACE && o.entry_ok() && line == o.line(),
              "a new line is the entry's, and cron reads it");
    }
    check(added <= 1, "at most one line added");
    return rc;
}

// Without injected failures the operation does what it was asked.
void expect_done(const Operation &o, int rc) {
    if (fired || !o.command_ok()) return;
    char *line = host_crontab_entry(o.command.c_str());
    bool want_line = o.op == CRON_ADD_OR_REPLACE && o.entry_ok();
    check(rc == (o.op == CRON_REMOVE || want_line ? 0 : -1), "result of a plain operation");
    check(want_line ? line != nullptr && o.line() == line : line == nullptr,
          "the entry is there exactly when it was added");
    std::free(line);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    dir = fuzz::temp_dir("crontab"), real_file = dir + "/real", link_file = dir + "/link";
    if (symlink("real", link_file.c_str()) != 0) std::abort();
    setenv("LOGBASE_HOST_DIR", dir.c_str(), 1);
    setenv("LOGBASE_CRONTAB", link_file.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    // Two bytes give the length of the starting crontab; none: no file.
    std::optional<std::string> start;
    if (input.size() >= 2) {
        start =
            input.substr(2, static_cast<uint8_t>(input[0]) | static_cast<uint8_t>(input[1]) << 8);
        input.remove_prefix(2 + start->size());
    } else {
        input = {};
    }
    put(start);
    // Operations are split at NUL bytes; at most eight per input.
    for (int n = 0; n < 8 && !input.empty(); ++n) {
        size_t cut = input.find('\0');
        Operation o = parse(input.substr(0, cut));
        input = cut == input.npos ? std::string_view{} : input.substr(cut + 1);
        expect_done(o, run(o));
    }
    return 0;
}
