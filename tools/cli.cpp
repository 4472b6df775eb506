#include "cli.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

std::vector<Command> &registry() {
    static std::vector<Command> commands;
    return commands;
}

void print_overview(FILE *out) {
    std::fprintf(out, "usage: logbase COMMAND [ARGS...]\n\n"
                      "Inspect and convert the appliance's log files, preview report filters\n"
                      "and windows. \"logbase COMMAND --help\" describes one command.\n\n"
                      "commands:\n");
    auto commands = registry();
    std::sort(commands.begin(), commands.end(),
              [](const Command &a, const Command &b) { return std::strcmp(a.name, b.name) < 0; });
    for (const Command &c : commands)
        std::fprintf(out, "  %s\n", c.synopsis);
}

} // namespace

Registrar::Registrar(const Command &command) {
    registry().push_back(command);
}

Args::Args(int argc, char **argv, std::initializer_list<std::string_view> valued) {
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-' ||
            (arg[1] != '-' && !std::isalpha(static_cast<unsigned char>(arg[1])))) {
            positional_.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        std::string name(arg);
        bool takes_value = std::find(valued.begin(), valued.end(), arg) != valued.end();
        if (!takes_value) {
            options_.emplace_back(name, std::nullopt);
        } else if (i + 1 < argc) {
            options_.emplace_back(name, std::string(argv[++i]));
        } else {
            error_ = "option " + name + " needs a value";
        }
    }
}

bool Args::flag(std::string_view name) const {
    return std::any_of(options_.begin(), options_.end(),
                       [&](const auto &o) { return o.first == name; });
}

std::optional<std::string> Args::value(std::string_view name) const {
    for (auto it = options_.rbegin(); it != options_.rend(); ++it)
        if (it->first == name) return it->second;
    return std::nullopt;
}

int fail(int status, const std::string &message) {
    std::fprintf(stderr, "logbase: %s\n", message.c_str());
    return status;
}

int usage_error(const Command &command, const std::string &message) {
    std::fprintf(stderr, "logbase %s: %s\nusage: logbase %s\n", command.name, message.c_str(),
                 command.synopsis);
    return kUsage;
}

bool wants_help(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

int print_help(const Command &command) {
    std::printf("usage: logbase %s\n\n%s", command.synopsis, command.help);
    return kOk;
}

std::optional<long long> parse_integer(std::string_view text) {
    long long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

int dispatch(int argc, char **argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        print_overview(argc < 2 ? stderr : stdout);
        return argc < 2 ? kUsage : kOk;
    }
    for (const Command &c : registry()) {
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        if (wants_help(argc - 1, argv + 1)) return print_help(c);
        return c.run(argc - 1, argv + 1);
    }
    std::fprintf(stderr, "logbase: unknown command '%s'\n", argv[1]);
    print_overview(stderr);
    return kUsage;
}

} // namespace cli

int main(int argc, char **argv) {
    return cli::dispatch(argc, argv);
}
