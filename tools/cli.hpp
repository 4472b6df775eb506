// The logbase tool's command registry and argument helpers. Each family's
// commands live in a cmd_<family>.cpp that registers them with a static
// cli::Registrar.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

struct Command {
    const char *name;
    const char *synopsis;              // one line: "NAME ARGS", shown in the overview
    const char *help;                  // full --help text after the synopsis
    int (*run)(int argc, char **argv); // argv[0] is the command name
};

struct Registrar {
    explicit Registrar(const Command &command);
};

// Exit statuses: 0 success, 1 the operation failed (bad file, bad record),
// 2 the command line was wrong.
inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// Arguments split into positionals and options. Options are "--name value"
// for names given as taking a value, "--name" flags otherwise; "--" ends them.
class Args {
  public:
    Args(int argc, char **argv, std::initializer_list<std::string_view> valued);
    const std::vector<std::string> &positional() const { return positional_; }
    bool flag(std::string_view name) const;
    std::optional<std::string> value(std::string_view name) const;
    // Empty when the command line parsed; otherwise the message to show.
    const std::string &error() const { return error_; }

  private:
    std::vector<std::string> positional_;
    std::vector<std::pair<std::string, std::optional<std::string>>> options_;
    std::string error_;
};

// Prints "logbase: <message>" to stderr and returns `status`.
int fail(int status, const std::string &message);
// Prints the command's usage to stderr and returns kUsage.
int usage_error(const Command &command, const std::string &message);
// True when argv holds -h or --help; the command then prints its help.
bool wants_help(int argc, char **argv);
// Prints "usage: logbase <synopsis>" and the help text to stdout.
int print_help(const Command &command);
// Parses a whole decimal integer; nullopt on anything else.
std::optional<long long> parse_integer(std::string_view text);

} // namespace cli
