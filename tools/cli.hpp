// The logbase tool's command registry, its command-line conventions and its
// output policy. Each family's commands live in a cmd_<family>.cpp that
// registers them with a static cli::Registrar.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace cli {

class Output;

struct Command {
    const char *name;
    const char *synopsis; // one line: "NAME ARGS", shown in the overview
    const char *help;     // full --help text after the synopsis
    // argv[0] is the command name; data goes to `out`, standard output.
    int (*run)(int argc, char **argv, Output &out);
};

struct Registrar {
    explicit Registrar(const Command &command);
};

// Runs the command named by argv[1] (or the overview, or --version) with
// standard output as one Output, finished by the write-error policy; the
// exit status.
int dispatch(int argc, char **argv);

// Exit statuses: 0 success, 1 the operation failed (bad file, bad record,
// failed write), 2 the command line was wrong. A closed output pipe ends the
// process by SIGPIPE, as it ends cat (128 + 13 = 141 in the shell).
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// A command line split into options and positionals, strictly: options are
// "--name VALUE" or "--name=VALUE" for the names listed as valued, "--name"
// for the flags; anything else starting with '-' is an unknown option. "-"
// alone (standard input) and "-5" (a negative number) are positionals; "--"
// ends the options. No option may be given twice.
class Args {
  public:
    Args(int argc, char **argv, std::initializer_list<std::string_view> valued,
         std::initializer_list<std::string_view> flags);
    const std::vector<std::string> &positional() const { return positional_; }
    bool flag(std::string_view name) const;
    std::optional<std::string> value(std::string_view name) const;
    // A valued option as a whole decimal number in [low, high]; when it is
    // something else, nullopt and error() names the option.
    std::optional<long long> number(std::string_view name, long long low, long long high);
    // Empty while the command line is right; otherwise the message to show.
    const std::string &error() const { return error_; }
    bool ok() const { return error_.empty(); }
    // No upper bound on the number of positionals, for check().
    static constexpr size_t kAny = SIZE_MAX;
    // kOk when the options parsed and `least` to `most` positionals were
    // given; otherwise prints the usage error (`expected` when the count is
    // wrong) and returns kUsage, for the command to return.
    int check(const Command &command, size_t least = 0, size_t most = kAny,
              std::string_view expected = {}) const;
    // Records a usage error about option `name`: "option NAME <why>", or
    // "unknown option NAME" for an empty `why`. The first one stays.
    void reject(std::string_view name, std::string_view why);

  private:
    void take(std::string_view name, std::optional<std::string> value);

    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::optional<std::string>>> options_;
    std::string error_;
};

// Prints "logbase: <message>" to stderr (clearing a progress line first)
// and returns `status`; while this thread holds its messages, appends the
// line to them instead.
int fail(int status, const std::string &message);

// Holds the messages fail() gives on this thread in `to` while it lives: a
// worker's messages wait until its records' turn comes.
class HeldMessages {
  public:
    explicit HeldMessages(std::string &to);
    HeldMessages(const HeldMessages &) = delete;
    HeldMessages &operator=(const HeldMessages &) = delete;
    ~HeldMessages();

  private:
    std::string *outer_;
};

// Held messages to stderr (clearing a progress line first).
void put_messages(std::string_view text);
// Prints "logbase CMD: <message>" and the command's usage to stderr and
// returns kUsage.
int usage_error(const Command &command, const std::string &message);
// True when argv holds -h or --help before any "--".
bool wants_help(int argc, char **argv);
// Writes "usage: logbase <synopsis>" and the help text to `out`.
int print_help(const Command &command, Output &out);
// Parses a whole decimal integer; nullopt on anything else.
std::optional<long long> parse_integer(std::string_view text);

// Buffered output to a descriptor, for data of any size: writes go out in
// large blocks with write(2), so the cost per record of a streaming command
// is a few copies into the buffer. To a terminal each piece that ends a line
// goes out at once, so a person watching sees every line as it is made.
// After a failed write the rest is dropped and failed() tells loops to stop;
// a closed pipe ends the process at once by SIGPIPE, quietly, whatever the
// inherited disposition of SIGPIPE. An Output on kInMemory writes nothing:
// it grows to keep everything until clear(), for a batch made on a worker
// thread that is written later.
class Output {
  public:
    static constexpr size_t kDefaultCapacity = size_t{1} << 20;
    static constexpr int kInMemory = -1;

    explicit Output(int fd = STDOUT_FILENO, size_t capacity = kDefaultCapacity);
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    ~Output(); // flushes; errors are seen through finish()

    void write(std::string_view bytes) {
        if (bytes.size() > capacity_ - used_ || large(bytes.size())) return write_through(bytes);
        std::memcpy(data_.get() + used_, bytes.data(), bytes.size());
        used_ += bytes.size();
        if (per_line_) end_lines(bytes);
    }
    void put(char c) {
        *reserve(1) = c;
        ++used_;
        if (per_line_ && c == '\n') flush();
    }
    void printf(const char *format, ...) __attribute__((format(printf, 2, 3)));
    // Room for `n` bytes to fill in place, then commit(used).
    char *reserve(size_t n) {
        if (n > capacity_ - used_) make_room(n);
        return data_.get() + used_;
    }
    void commit(size_t n) {
        used_ += n;
        if (per_line_) end_lines({data_.get() + used_ - n, n});
    }

    // Writes out what is buffered; false once any write has failed.
    bool flush();
    // kInMemory: what was written since the last clear(); clear() gives a
    // buffer grown far past `keep` back.
    std::string_view held() const { return {data_.get(), used_}; }
    void clear(size_t keep = kDefaultCapacity);
    bool failed() const { return error_ != 0; }
    int error() const { return error_; } // errno of the failed write, else 0
    // Flushes; after a failed write prints "logbase: write error: REASON"
    // and returns kFailed, otherwise returns `status`.
    int finish(int status);

  private:
    // A piece this large (a batch of another thread's output) goes out as it
    // is: copied through the buffer, its bytes would cross from the core
    // that made them once more.
    static constexpr size_t kDirect = size_t{64} << 10;
    bool large(size_t n) const { return n >= std::min(capacity_ / 2, kDirect); }
    void write_through(std::string_view bytes);
    void write_all(std::string_view bytes); // to the descriptor; a failure sets error_
    void make_room(size_t n);
    void end_lines(std::string_view added); // flushes when `added` ends a line

    int fd_;
    bool per_line_; // the descriptor is a terminal
    size_t capacity_;
    std::unique_ptr<char[]> data_;
    size_t used_ = 0;
    int error_ = 0;
};

// Ends the process as a closed pipe ends cat: by SIGPIPE, with no message.
[[noreturn]] void die_of_closed_pipe();

// A one-line progress indicator on standard error, shown only when stderr is
// a terminal and stdout is not that same terminal, so it never lands between
// data lines. Redrawn at most a few times a second; cleared when destroyed
// and before cli::fail prints a message.
class Progress {
  public:
    Progress(std::string what, uint64_t total);
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    ~Progress();
    void update(uint64_t done);
    void clear();
    bool shown() const { return enabled_; }

  private:
    std::string what_;
    uint64_t total_;
    bool enabled_;
    bool drawn_ = false;
    uint32_t calls_ = 0;
    int64_t next_ms_ = 0;
};

// The terminal rule of Progress, from the descriptors' file status.
bool progress_wanted(int data_fd = STDOUT_FILENO, int progress_fd = STDERR_FILENO);

} // namespace cli
