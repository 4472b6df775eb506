#include "cli.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <utility>

#include "logbase.h"

#ifndef LOGBASE_VERSION
#define LOGBASE_VERSION "unknown"
#endif

namespace cli {

namespace {

std::vector<Command> &registry() {
    static std::vector<Command> commands;
    return commands;
}

Progress *active_progress = nullptr;
thread_local std::string *held_messages = nullptr;

std::string overview() {
    std::string text = "usage: logbase [--diagnostics file|stderr|off] COMMAND [ARGS...]\n"
                       "       logbase --version\n\n"
                       "Inspect and convert the appliance's log files, preview report filters\n"
                       "and windows. \"logbase COMMAND --help\" describes one command;\n"
                       "\"man logbase\" all of them.\n\n"
                       "commands:\n";
    auto commands = registry();
    std::sort(commands.begin(), commands.end(),
              [](const Command &a, const Command &b) { return std::strcmp(a.name, b.name) < 0; });
    for (const Command &c : commands)
        text.append("  ").append(c.synopsis).append("\n");
    return text;
}

bool listed(std::initializer_list<std::string_view> names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

// "-" is standard input and "-5" a negative number, not options.
bool looks_like_option(std::string_view arg) {
    return arg.size() >= 2 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]));
}

int64_t now_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

} // namespace

Registrar::Registrar(const Command &command) {
    registry().push_back(command);
}

Args::Args(int argc, char **argv, std::initializer_list<std::string_view> valued,
           std::initializer_list<std::string_view> flags) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (options_done || !looks_like_option(arg)) {
            positional_.emplace_back(arg);
        } else if (arg == "--") {
            options_done = true;
        } else if (size_t equals = arg.find('='); equals != std::string_view::npos) {
            std::string_view name = arg.substr(0, equals);
            if (listed(valued, name))
                take(name, std::string(arg.substr(equals + 1)));
            else
                reject(name, listed(flags, name) ? "takes no value" : "");
        } else if (listed(valued, arg)) {
            if (i + 1 < argc)
                take(arg, std::string(argv[++i]));
            else
                reject(arg, "needs a value");
        } else if (listed(flags, arg)) {
            take(arg, std::nullopt);
        } else {
            reject(arg, "");
        }
    }
}

void Args::take(std::string_view name, std::optional<std::string> value) {
    if (this->value(name) || flag(name)) return reject(name, "is given more than once");
    options_.emplace_back(std::string(name), std::move(value));
}

void Args::reject(std::string_view name, std::string_view why) {
    if (!error_.empty()) return;
    error_ = why.empty() ? "unknown option " + std::string(name)
                         : "option " + std::string(name) + " " + std::string(why);
}

bool Args::flag(std::string_view name) const {
    return std::any_of(options_.begin(), options_.end(),
                       [&](const auto &o) { return o.first == name; });
}

std::optional<std::string> Args::value(std::string_view name) const {
    for (const auto &option : options_)
        if (option.first == name) return option.second;
    return std::nullopt;
}

int Args::check(const Command &command, size_t least, size_t most,
                std::string_view expected) const {
    if (!ok()) return usage_error(command, error_);
    if (positional_.size() < least || positional_.size() > most)
        return usage_error(command, std::string(expected));
    return kOk;
}

std::optional<long long> Args::number(std::string_view name, long long low, long long high) {
    std::optional<std::string> text = value(name);
    if (!text) return std::nullopt;
    std::optional<long long> n = parse_integer(*text);
    if (n && *n >= low && *n <= high) return n;
    reject(name, "needs a whole number from " + std::to_string(low) + " to " +
                     std::to_string(high) + ", not '" + *text + "'");
    return std::nullopt;
}

int fail(int status, const std::string &message) {
    if (held_messages != nullptr) {
        held_messages->append("logbase: ").append(message).push_back('\n');
        return status;
    }
    if (active_progress != nullptr) active_progress->clear();
    std::fprintf(stderr, "logbase: %s\n", message.c_str());
    return status;
}

HeldMessages::HeldMessages(std::string &to) : outer_(std::exchange(held_messages, &to)) {}

HeldMessages::~HeldMessages() {
    held_messages = outer_;
}

void put_messages(std::string_view text) {
    if (text.empty()) return;
    if (active_progress != nullptr) active_progress->clear();
    std::fwrite(text.data(), 1, text.size(), stderr);
}

int usage_error(const Command &command, const std::string &message) {
    if (active_progress != nullptr) active_progress->clear();
    std::fprintf(stderr, "logbase %s: %s\nusage: logbase %s\n", command.name, message.c_str(),
                 command.synopsis);
    return kUsage;
}

bool wants_help(int argc, char **argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

int print_help(const Command &command, Output &out) {
    out.printf("usage: logbase %s\n\n%s", command.synopsis, command.help);
    return kOk;
}

std::optional<long long> parse_integer(std::string_view text) {
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

Output::Output(int fd, size_t capacity)
    : fd_(fd), per_line_(isatty(fd) == 1), capacity_(std::max<size_t>(capacity, 4096)),
      data_(new char[capacity_]) {}

Output::~Output() {
    flush();
}

void Output::write_through(std::string_view bytes) {
    if (fd_ == kInMemory) {
        make_room(bytes.size());
        std::memcpy(data_.get() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        return;
    }
    if (large(bytes.size())) {
        // After what is buffered.
        if (flush()) write_all(bytes);
        return;
    }
    for (std::string_view rest = bytes; !rest.empty();) {
        if (used_ == capacity_) flush();
        size_t n = std::min(rest.size(), capacity_ - used_);
        std::memcpy(data_.get() + used_, rest.data(), n);
        used_ += n;
        rest.remove_prefix(n);
    }
    if (per_line_) end_lines(bytes);
}

void Output::end_lines(std::string_view added) {
    if (added.find('\n') != std::string_view::npos) flush();
}

void Output::printf(const char *format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    size_t room = capacity_ - used_;
    int n = std::vsnprintf(data_.get() + used_, room, format, args);
    if (n >= 0 && static_cast<size_t>(n) < room) {
        commit(static_cast<size_t>(n));
    } else if (n >= 0) {
        std::string text(static_cast<size_t>(n), '\0');
        std::vsnprintf(text.data(), text.size() + 1, format, again);
        write(text);
    }
    va_end(again);
    va_end(args);
}

void Output::make_room(size_t n) {
    if (fd_ == kInMemory) {
        if (n <= capacity_ - used_) return;
        const size_t grown = std::max(2 * capacity_, used_ + n);
        std::unique_ptr<char[]> data(new char[grown]);
        std::memcpy(data.get(), data_.get(), used_);
        data_ = std::move(data);
        capacity_ = grown;
        return;
    }
    flush();
    if (n <= capacity_) return;
    capacity_ = n; // a piece larger than the buffer: grow once to hold it
    data_.reset(new char[capacity_]);
}

void Output::clear(size_t keep) {
    used_ = 0;
    if (capacity_ <= 4 * std::max<size_t>(keep, 4096)) return;
    capacity_ = std::max<size_t>(keep, 4096);
    data_.reset(new char[capacity_]);
}

bool Output::flush() {
    if (fd_ == kInMemory) return true;
    write_all({data_.get(), used_});
    used_ = 0; // after a failure the rest is dropped
    return error_ == 0;
}

void Output::write_all(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size() && error_ == 0) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EPIPE) {
            die_of_closed_pipe();
        } else if (n < 0 && errno != EINTR) {
            error_ = errno;
        } else if (n == 0) {
            error_ = EIO;
        }
    }
}

int Output::finish(int status) {
    if (flush()) return status;
    return fail(kFailed, std::string("write error: ") + std::strerror(error_));
}

void die_of_closed_pipe() {
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &pipe_only, nullptr);
    std::raise(SIGPIPE);
    _exit(128 + SIGPIPE);
}

bool progress_wanted(int data_fd, int progress_fd) {
    if (!isatty(progress_fd)) return false;
    struct stat data = {}, progress = {};
    if (fstat(data_fd, &data) != 0 || fstat(progress_fd, &progress) != 0) return true;
    // One terminal device behind two device nodes (an alias of a console)
    // is still the same terminal.
    bool same =
        (data.st_dev == progress.st_dev && data.st_ino == progress.st_ino) ||
        (S_ISCHR(data.st_mode) && S_ISCHR(progress.st_mode) && data.st_rdev == progress.st_rdev);
    return !same;
}

Progress::Progress(std::string what, uint64_t total)
    : what_(std::move(what)), total_(total), enabled_(progress_wanted()),
      next_ms_(now_ms() + 500) { // short runs show nothing
    if (enabled_) active_progress = this;
}

Progress::~Progress() {
    clear();
    if (active_progress == this) active_progress = nullptr;
}

void Progress::update(uint64_t done) {
    if (!enabled_ || (++calls_ & 255) != 1) return;
    int64_t now = now_ms();
    if (now < next_ms_) return;
    next_ms_ = now + 200;
    if (total_ > 0)
        std::fprintf(stderr, "\r%s: %llu of %llu (%llu%%)\x1b[K", what_.c_str(),
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_),
                     static_cast<unsigned long long>(done * 100 / total_));
    else
        std::fprintf(stderr, "\r%s: %llu\x1b[K", what_.c_str(),
                     static_cast<unsigned long long>(done));
    drawn_ = true;
}

void Progress::clear() {
    if (!drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    drawn_ = false;
}

int dispatch(int argc, char **argv) {
    // A closed output pipe ends the run quietly, as it ends cat, even when the
    // parent left SIGPIPE ignored.
    std::signal(SIGPIPE, SIG_DFL);
    if (argc < 2) {
        std::fputs(overview().c_str(), stderr);
        return kUsage;
    }
    // --diagnostics file|stderr|off, before the command: where the library's
    // diagnostic lines go (the appliance's diagnostic file by default).
    if (std::strcmp(argv[1], "--diagnostics") == 0) {
        const char *mode = argc > 2 ? argv[2] : "";
        int to = std::strcmp(mode, "file") == 0     ? LOG_DIAG_FILE
                 : std::strcmp(mode, "stderr") == 0 ? STDERR_FILENO
                 : std::strcmp(mode, "off") == 0    ? LOG_DIAG_OFF
                                                    : -3;
        if (to == -3 || argc < 4) {
            std::fprintf(stderr, "logbase: --diagnostics takes file, stderr or off, then a "
                                 "command\n");
            return kUsage;
        }
        rt_log_set_destination(to);
        argc -= 2;
        argv += 2;
    }
    Output out;
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        out.write(overview());
        return out.finish(kOk);
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        if (argc > 2) {
            std::fprintf(stderr, "logbase: --version takes nothing after it, not '%s'\n", argv[2]);
            std::fputs(overview().c_str(), stderr);
            return kUsage;
        }
        out.write("logbase " LOGBASE_VERSION "\n");
        return out.finish(kOk);
    }
    for (const Command &c : registry()) {
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        if (wants_help(argc - 1, argv + 1)) return out.finish(print_help(c, out));
        return out.finish(c.run(argc - 1, argv + 1, out));
    }
    std::fprintf(stderr, "logbase: unknown %s '%s'\n",
                 looks_like_option(argv[1]) ? "option" : "command", argv[1]);
    std::fputs(overview().c_str(), stderr);
    return kUsage;
}

} // namespace cli
