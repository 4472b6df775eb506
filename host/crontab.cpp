// Reference crontab service: keeps the crontab file (host_crontab_path) in
// the standard five-field format, one line per scheduled command. Lines it
// does not manage (comments, variables, other commands) are kept as they are.
#include "file_io.hpp"
#include "files.hpp"
#include "guards.hpp"
#include "host_store.h"
#include "logbase_host.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr std::string_view kBlanks = " \t";
// Far beyond any real crontab; a bigger file is not one.
constexpr size_t kMaxCrontabSize = size_t{16} << 20;

struct FieldRange {
    int low;
    int high;
};

// minute, hour, day of month, month, day of week (7 is Sunday too).
constexpr FieldRange kFieldRanges[5] = {{0, 59}, {0, 23}, {1, 31}, {1, 12}, {0, 7}};

bool parse_number(std::string_view text, FieldRange range, int *value) {
    if (text.empty() || text.size() > 2) return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    *value = n;
    return n >= range.low && n <= range.high;
}

// One list item: "*", "N" or "N-M", optionally followed by "/STEP".
bool valid_item(std::string_view item, FieldRange range) {
    size_t slash = item.find('/');
    if (slash != std::string_view::npos) {
        int step;
        if (!parse_number(item.substr(slash + 1), {1, 59}, &step)) return false;
        item = item.substr(0, slash);
    }
    if (item == "*") return true;
    size_t dash = item.find('-');
    int low;
    if (dash == std::string_view::npos)
        return slash == std::string_view::npos && parse_number(item, range, &low);
    int high;
    return parse_number(item.substr(0, dash), range, &low) &&
           parse_number(item.substr(dash + 1), range, &high) && low <= high;
}

bool valid_field(const char *text, FieldRange range) {
    if (text == nullptr || text[0] == '\0') return false;
    std::string_view rest = text;
    for (;;) {
        size_t comma = rest.find(',');
        if (!valid_item(rest.substr(0, comma), range)) return false;
        if (comma == std::string_view::npos) return true;
        rest = rest.substr(comma + 1);
    }
}

bool valid_entry(const cron_entry *entry) {
    if (entry == nullptr) return false;
    const char *fields[5] = {entry->minute, entry->hour, entry->day_of_month, entry->month,
                             entry->day_of_week};
    for (int i = 0; i < 5; ++i)
        if (!valid_field(fields[i], kFieldRanges[i])) return false;
    return true;
}

// cron turns an unescaped "%" of a command into a line break.
std::string escaped(std::string_view command) {
    std::string out;
    for (char c : command) {
        if (c == '%') out += '\\';
        out += c;
    }
    return out;
}

std::string_view skip_blanks(std::string_view text) {
    size_t start = text.find_first_not_of(kBlanks);
    return start == std::string_view::npos ? std::string_view{} : text.substr(start);
}

std::string_view skip_word(std::string_view text) {
    size_t end = text.find_first_of(kBlanks);
    return end == std::string_view::npos ? std::string_view{} : text.substr(end);
}

// The command text of a schedule line; empty for comments, variable
// settings and blank lines.
std::string_view command_of(std::string_view line) {
    std::string_view rest = skip_blanks(line);
    if (rest.empty() || rest[0] == '#') return {};
    size_t equals = rest.find('=');
    if (equals != std::string_view::npos && equals < rest.find_first_of(kBlanks)) return {};
    int fields = rest[0] == '@' ? 1 : 5;
    for (int i = 0; i < fields; ++i)
        rest = skip_blanks(skip_word(rest));
    size_t end = rest.find_last_not_of(" \t\r");
    return end == std::string_view::npos ? std::string_view{} : rest.substr(0, end + 1);
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    return lines;
}

std::string entry_line(const cron_entry &entry, const std::string &command) {
    return std::string(entry.minute) + " " + entry.hour + " " + entry.day_of_month + " " +
           entry.month + " " + entry.day_of_week + " " + command;
}

// Serialises writers of all processes over the read-change-write of the
// file. The lock file stays in the store, out of cron's sight.
lb::unique_fd lock_crontab() {
    std::string path = std::string(host_store_dir()) + "/crontab.lock";
    if (!host::make_parent_directories(path)) return lb::unique_fd{};
    lb::unique_fd lock(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.valid() && ::flock(lock.get(), LOCK_EX) != 0) return lb::unique_fd{};
    return lock;
}

// The crontab's text, "" when there is none yet. Any other failure to read
// it (no permission, an I/O error, a FIFO or folder in its place, a size no
// crontab has) stops the caller: rewriting from a partial view would lose
// the lines it did not see.
std::optional<std::string> read_crontab(const std::string &path) {
    std::string text;
    if (lb::read_regular_file(path.c_str(), kMaxCrontabSize, text)) return text;
    if (errno == ENOENT) return std::string();
    return std::nullopt;
}

// The crontab file itself: a symbolic link is followed to its end, so the
// link stays and its target gets the entry. A link to nothing is refused:
// writing would create the file, and its folders, wherever it points.
std::optional<std::string> crontab_file() {
    std::string start = host_crontab_path();
    std::optional<std::string> path = lb::final_target(start);
    struct stat st;
    if (path && *path != start && ::lstat(path->c_str(), &st) != 0) return std::nullopt;
    return path;
}

// A command with a blank at either end could not be told apart from the
// line's separators, so its line would never be found again.
bool has_no_outer_blanks(std::string_view command) {
    return kBlanks.find(command.front()) == std::string_view::npos &&
           kBlanks.find(command.back()) == std::string_view::npos;
}

int update(int op, const cron_entry *entry, std::string_view raw_command) {
    if ((op != CRON_ADD_OR_REPLACE && op != CRON_REMOVE) || raw_command.empty() ||
        raw_command.find_first_of("\r\n") != std::string_view::npos ||
        !has_no_outer_blanks(raw_command))
        return -1;
    std::string command = escaped(raw_command);
    // An entry cron could not read (an empty or out-of-range field) leaves
    // the command unscheduled rather than on an old schedule.
    bool add = op == CRON_ADD_OR_REPLACE && valid_entry(entry);

    lb::unique_fd lock = lock_crontab();
    if (!lock.valid()) return -1;
    std::optional<std::string> path = crontab_file();
    if (!path) return -1;
    std::optional<std::string> old = read_crontab(*path);
    if (!old) return -1;

    std::string kept;
    bool placed = false;
    for (const std::string &line : lines_of(*old)) {
        if (command_of(line) != command) {
            kept += line + "\n";
        } else if (add && !placed) {
            kept += entry_line(*entry, command) + "\n";
            placed = true;
        }
    }
    if (add && !placed) kept += entry_line(*entry, command) + "\n";
    if (!host::replace_file(*path, kept)) return -1;
    return op == CRON_ADD_OR_REPLACE && !add ? -1 : 0;
}

char *find_entry(std::string_view raw_command) {
    std::optional<std::string> path = crontab_file();
    std::optional<std::string> text = path ? read_crontab(*path) : std::nullopt;
    if (!text) return nullptr;
    std::string command = escaped(raw_command);
    for (const std::string &line : lines_of(*text))
        if (!command.empty() && command_of(line) == command) return ::strdup(line.c_str());
    return nullptr;
}

} // namespace

extern "C" int update_crontab(int op, const cron_entry *entry, const char *command) {
    if (command == nullptr) return -1;
    try {
        return update(op, entry, command);
    } catch (...) {
        return -1;
    }
}

extern "C" char *host_crontab_entry(const char *command) {
    if (command == nullptr) return nullptr;
    try {
        return find_entry(command);
    } catch (...) {
        return nullptr;
    }
}
