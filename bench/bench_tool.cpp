// bench_tool: the logbase commands people run on a large log, beside what
// the machine and the library can do on the same bytes in the same run.
//
//   bench_tool [SIZE_MB [CASE...]]     (default 1024, every case)
//
// CASE words pick the cases whose names hold one of them; the ceiling and
// the parse-only loop always run.
//
// Writes (once; later runs reuse it) a version-13 attack log of SIZE_MB from
// the attack sample lines into $TMPDIR/logbase-bench-tool, reads it once so
// that it is cached, then runs each case 3 times and shows the median wall
// time: `cat FILE` (the ceiling), a parse-only loop (the library's sequential reader and
// parse_disk_log_entry, no output), and the tool's csv, parse --json, cat
// with one job and with two (--jobs 2), csv --raw and cat --raw, then the
// selecting commands: csv --where with a
// report's five terms, a selective filter on one source address (count and
// csv) and count --by src, with their speed against csv or the parse-only
// loop, the speed of two jobs against one, and report run of a report with
// every attack chart (in a throwaway root, which holds its pid and progress
// files). Every case but those with two jobs runs with --jobs 1. Every case
// runs in a child process with standard output on /dev/null; its peak RSS
// comes from wait4's rusage.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "logbase.h"
#include "logfile_writer.hpp"

namespace {

// A report's window and severity terms and its severity group, as its
// settings give them; seven sample lines in eight match.
constexpr const char *kFiveTerms = "date-time>2026-11-20-08:00:00 date-time<2026-11-21-00:00:00 "
                                   "-pri=debug pri=alert OR pri=critical";
// One source address: one sample line in eight has it.
constexpr const char *kOneSource = "src=203.0.113.9";

struct Measure {
    double wall;        // seconds
    double cpu;         // user + system seconds
    double peak_rss_mb; // from wait4's rusage
    int status;
};

// The sample attack lines as records, the way `logbase pack` writes them.
std::vector<std::string> sample_records() {
    std::ifstream in(LOGBASE_SAMPLE_DIR "/attack.txt", std::ios::binary);
    std::vector<std::string> records;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
            line.pop_back();
        if (!line.empty()) records.push_back(line + " \n");
    }
    return records;
}

// The header and index through the test writer, then the records streamed.
bool write_log(const std::string &path, size_t target) {
    const std::vector<std::string> samples = sample_records();
    if (samples.empty()) return false;
    std::vector<log_index_entry> entries;
    size_t total = 0;
    for (size_t i = 0; total < target; ++i) {
        const std::string &record = samples[i % samples.size()];
        entries.push_back({static_cast<uint32_t>(total), static_cast<uint32_t>(record.size())});
        total += record.size();
    }
    const auto count = static_cast<uint32_t>(entries.size());
    logfile_writer::IndexedOptions options;
    options.record_count = count;
    options.index_capacity = count;
    options.entries = entries;
    std::ofstream out(path + ".part", std::ios::binary | std::ios::trunc);
    const std::string head = logfile_writer::indexed_file(13, {}, options);
    out.write(head.data(), static_cast<std::streamsize>(head.size()));
    for (uint32_t i = 0; i < count; ++i) {
        const std::string &record = samples[i % samples.size()];
        out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
    out.close();
    return out && std::rename((path + ".part").c_str(), path.c_str()) == 0;
}

// Wall and CPU time, and peak RSS, of a child process.
Measure wait_for(pid_t pid, std::chrono::steady_clock::time_point start) {
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    auto seconds = [](const timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return {elapsed.count(), seconds(usage.ru_utime) + seconds(usage.ru_stime),
            static_cast<double>(usage.ru_maxrss) / 1024,
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)};
}

// A command with stdout and stderr on /dev/null, spawned without a copy of
// this process, so that its peak RSS is its own.
Measure run_command(std::vector<const char *> argv) {
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr,
                                const_cast<char *const *>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? wait_for(pid, start) : Measure{0, 0, 0, 127};
}

// A function of this program in a forked child.
Measure run_function(const std::function<int()> &child) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(child());
    return wait_for(pid, start);
}

// What the tool commands at least have to do: every record read and parsed.
int parse_only(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    log_stream *stream = nullptr;
    if (fd < 0 || log_stream_open(fd, &stream) != 0) return 1;
    static kv_entries items;
    log_record record{};
    unsigned long long parsed = 0;
    while (log_stream_next(stream, &record) == LOG_STREAM_RECORD)
        if (parse_disk_log_entry(LOG_CAT_ATTACK, record.data, static_cast<int>(record.text_length),
                                 &items) > 0)
            ++parsed;
    const bool all = parsed == log_stream_header(stream)->record_count;
    log_stream_close(stream);
    ::close(fd);
    return all ? 0 : 1;
}

// The run of median CPU time among three.
Measure median_of_3(const std::function<Measure()> &run) {
    std::vector<Measure> runs;
    for (int i = 0; i < 3; ++i)
        runs.push_back(run());
    std::sort(runs.begin(), runs.end(),
              [](const Measure &a, const Measure &b) { return a.cpu < b.cpu; });
    return runs[1];
}

} // namespace

int main(int argc, char **argv) {
    const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const char *tmp = std::getenv("TMPDIR");
    const std::string dir = std::string(tmp ? tmp : "/tmp") + "/logbase-bench-tool";
    const std::string path = dir + "/alog.log";
    mkdir(dir.c_str(), 0755);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || static_cast<size_t>(st.st_size) < megabytes << 20) {
        std::printf("writing %zu MB to %s\n", megabytes, path.c_str());
        if (!write_log(path, megabytes << 20)) return std::perror("write"), 1;
        stat(path.c_str(), &st);
    }
    const double gb = static_cast<double>(st.st_size) / 1e9;
    const char *tool = LOGBASE_CLI;
    const char *file = path.c_str();
    run_command({"cat", file}); // into the page cache
    // A report of every attack chart whose window holds the whole log.
    const std::string store = dir + "/store", reports = dir + "/reports";
    mkdir(reports.c_str(), 0755);
    setenv("LOGBASE_HOST_DIR", store.c_str(), 1);
    if (run_command({tool, "report", "define", "bench-attacks", "--start", "2026-11-20 00:00",
                     "--end", "2026-11-21 00:00", "--charts", "Report_attack_activity", "--formats",
                     "txt"})
            .status != 0)
        return std::fputs("cannot define the report\n", stderr), 1;

    struct Case {
        const char *name;
        std::function<Measure()> run;
    };
    // The tool with these arguments, then the file, with `jobs` jobs.
    const auto logbase = [&](std::vector<const char *> args, const char *jobs = "1") {
        return [&, args, jobs]() mutable {
            std::vector<const char *> argv{tool};
            argv.insert(argv.end(), args.begin(), args.end());
            argv.insert(argv.end(), {"--jobs", jobs, file});
            return run_command(argv);
        };
    };
    const auto report_run = [&](const char *jobs) {
        return [&, jobs] {
            return run_command({THROWAWAY_ROOT, tool, "report", "run", "bench-attacks", file,
                                "--out", reports.c_str(), "--jobs", jobs});
        };
    };
    const Case cases[] = {
        {"`cat FILE` (ceiling)",
         [&] {
             return run_command({"cat", file});
         }},
        {"parse-only loop", [&] { return run_function([&] { return parse_only(path); }); }},
        {"`logbase csv`", logbase({"csv"})},
        {"`logbase parse --json`", logbase({"parse", "--json"})},
        {"`logbase cat`", logbase({"cat"})},
        {"`logbase csv --jobs 2`", logbase({"csv"}, "2")},
        {"`logbase parse --json --jobs 2`", logbase({"parse", "--json"}, "2")},
        {"`logbase cat --jobs 2`", logbase({"cat"}, "2")},
        {"`logbase csv --raw`", logbase({"csv", "--raw"})},
        {"`logbase cat --raw`", logbase({"cat", "--raw"})},
        {"`logbase csv --where` (five terms)", logbase({"csv", "--where", kFiveTerms})},
        {"`logbase count --where` (one source)", logbase({"count", "--where", kOneSource})},
        {"`logbase csv --where` (one source)", logbase({"csv", "--where", kOneSource})},
        {"`logbase count --by src`", logbase({"count", "--by", "src"})},
        {"`logbase report run` (every attack chart)", report_run("1")},
        {"`logbase report run --jobs 2`", report_run("2")},
    };
    std::printf("%s: %.2f GB, output to /dev/null, the run of median CPU time of 3\n\n", file, gb);
    std::printf("| case | wall | CPU | GB/s (wall) | GB/s (CPU) | x parse-only (CPU) | x cat (CPU) "
                "| peak RSS |\n|---|---|---|---|---|---|---|---|\n");
    double cat_cpu = 0, parse_cpu = 0;
    int failed = 0;
    std::map<std::string, double> cpu, wall;
    auto wanted = [&](const Case &c) {
        if (argc <= 2 || &c - cases < 2) return true;
        for (int i = 2; i < argc; ++i)
            if (std::strstr(c.name, argv[i]) != nullptr) return true;
        return false;
    };
    for (const Case &c : cases) {
        if (!wanted(c)) continue;
        const Measure m = median_of_3(c.run);
        cpu[c.name] = m.cpu;
        wall[c.name] = m.wall;
        if (cat_cpu == 0)
            cat_cpu = m.cpu;
        else if (parse_cpu == 0)
            parse_cpu = m.cpu;
        char versus_parse[16] = "-";
        if (parse_cpu > 0)
            std::snprintf(versus_parse, sizeof versus_parse, "%.2f", parse_cpu / m.cpu);
        std::printf("| %s | %.3f s | %.3f s | %.2f | %.2f | %s | %.3f | %.1f MB |%s\n", c.name,
                    m.wall, m.cpu, gb / m.wall, gb / m.cpu, versus_parse, cat_cpu / m.cpu,
                    m.peak_rss_mb, m.status ? " (failed)" : "");
        failed |= m.status;
    }
    // Speed of each selecting command against what it builds on, from the
    // runs above (CPU time).
    const struct {
        const char *selecting, *base, *goal;
    } ratios[] = {
        {"`logbase csv --where` (five terms)", "`logbase csv`", ">= 0.8"},
        {"`logbase count --where` (one source)", "parse-only loop", ">= 2"},
        {"`logbase csv --where` (one source)", "parse-only loop", ">= 2"},
        {"`logbase count --by src`", "parse-only loop", ">= 0.8"},
        {"`logbase report run` (every attack chart)", "parse-only loop", ">= 0.5"},
    };
    std::printf("\n| selecting | against | speed ratio (CPU) | goal |\n|---|---|---|---|\n");
    for (const auto &r : ratios)
        if (cpu.count(r.selecting) != 0 && cpu.count(r.base) != 0)
            std::printf("| %s | %s | %.2f | %s |\n", r.selecting, r.base,
                        cpu[r.base] / cpu[r.selecting], r.goal);
    // Two jobs against one, by wall time.
    const struct {
        const char *two, *one;
    } jobs[] = {{"`logbase csv --jobs 2`", "`logbase csv`"},
                {"`logbase parse --json --jobs 2`", "`logbase parse --json`"},
                {"`logbase cat --jobs 2`", "`logbase cat`"},
                {"`logbase report run --jobs 2`", "`logbase report run` (every attack chart)"}};
    std::printf("\n| two jobs | one job | speed ratio (wall) | goal |\n|---|---|---|---|\n");
    for (const auto &j : jobs)
        if (wall.count(j.one) != 0 && wall.count(j.two) != 0)
            std::printf("| %s | %s | %.2f | >= 1.6 on 2 cores |\n", j.two, j.one,
                        wall[j.one] / wall[j.two]);
    return failed ? 1 : 0;
}
