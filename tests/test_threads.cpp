// The reentrant operations run from many threads at once and give the same
// results as on one thread. Built with the tsan preset this is the data-race
// check; the first use of the descriptor tables is raced on purpose.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "logbase.h"
#include "logfile_writer.hpp"
#include "report_record.hpp"
#include "testkit.hpp"

// A thread's first host lookup registers its resolver settings in a glibc
// array that glibc guards with an internal lock ThreadSanitizer cannot see.
extern "C" const char *__tsan_default_suppressions() {
    return "race:__libc_dynarray_emplace_enlarge\n";
}

namespace {

constexpr int kThreads = 8;

std::vector<std::string> sample_lines(const std::string &name) {
    std::ifstream in(std::string(LOGBASE_SAMPLES_DIR) + "/" + name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(line);
    return lines;
}

// Runs `work(thread_index)` on kThreads threads released together.
void run_together(const std::function<void(int)> &work) {
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            work(t);
        });
    for (auto &thread : threads)
        thread.join();
}

// Item count of every line, then the CSV text of all of them.
std::string parse_and_convert(const std::vector<std::string> &lines) {
    std::string summary;
    for (const std::string &line : lines) {
        std::string buf = line + "\n";
        kv_entries entries{};
        int rc = parse_disk_log_entry(LOG_CAT_ATTACK, buf.data(), static_cast<int>(line.size()),
                                      &entries);
        summary += std::to_string(rc) + ":" + std::to_string(entries.count) + " ";
    }
    std::string csv;
    for (const std::string &line : lines)
        csv += line + "\n";
    summary += std::to_string(convert_csv_log(LOG_CAT_ATTACK, csv.data(), int(csv.size())));
    return summary + csv;
}

// Each thread parses the sample lines, racing the first use of the descriptor tables, and
// reads them back from one log file through a descriptor of its own.
TEST(Threads, FirstTableUseParsingAndReadingRace) {
    testkit::TempDir dir;
    std::string path = dir.file("alog.log");
    std::vector<std::string> lines = sample_lines("attack.txt");
    ASSERT_FALSE(lines.empty());
    ASSERT_TRUE(logfile_writer::save(path, logfile_writer::log_file(13, lines)));
    std::vector<std::string> parsed(kThreads), read(kThreads);
    run_together([&](int t) {
        EXPECT_NE(_get_ed_by_cat(LOG_CAT_EVENT + t % 3), nullptr);
        parsed[t] = parse_and_convert(lines);
        int fd = open(path.c_str(), O_RDONLY);
        log_header header;
        if (fd < 0 || get_log_file_header_global(fd, &header) != 0) return;
        static thread_local char record[LOG_MAX_RECORD_LENGTH];
        unsigned int len = 0, off = 0;
        for (unsigned seq = 0; seq < header.record_count; ++seq)
            if (get_log_data_global(fd, static_cast<int>(seq), record, &header, &len, &off) == 0)
                read[t] += std::string(record, len) + "\n";
        // A sequence past the end fails and writes a diagnostic line.
        EXPECT_EQ(get_log_data_global(fd, 100000, record, &header, &len, &off), -1);
        close(fd);
    });
    std::string expected; // the sample lines carry their version text already
    for (const std::string &line : lines)
        expected += line + "\n";
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(parsed[t], parse_and_convert(lines));
        EXPECT_EQ(read[t], expected);
    }
}

// The tool's --jobs: records parsed and written in batches on three threads
// come out as on one, failed records' messages included, from a file and
// from a pipe; under the tsan preset a race would add its report to stderr.
TEST(Threads, ToolJobsWriteAsOneJob) {
    testkit::TempDir dir;
    const std::vector<std::string> lines = sample_lines("attack.txt");
    std::vector<std::string> records;
    for (size_t i = 0; records.size() < 2500; ++i)
        records.push_back(i % 700 == 3 ? "date=2026-11-20 not a record \n"
                                       : lines[i % lines.size()] + " \n");
    const std::string path = dir.file("alog.log");
    ASSERT_TRUE(logfile_writer::save(path, logfile_writer::log_file(13, records)));
    // From the file, or through a pipe (read on a thread of its own).
    auto run = [&](const std::string &args, bool piped) {
        const std::string out = dir.file("out"), err = dir.file("err");
        const int status = std::system(((piped ? "cat " + path + " | " : std::string()) +
                                        LOGBASE_CLI " --diagnostics off " + args + " " +
                                        (piped ? "-" : path) + " >" + out + " 2>" + err)
                                           .c_str());
        return std::make_tuple(status, testkit::read_file(out), testkit::read_file(err));
    };
    for (const std::string command :
         {"csv", "parse --json", "cat --since 2026-01-01", "count --by src"})
        for (bool piped : {false, true}) {
            const auto one = run(command + " --jobs 1", piped);
            EXPECT_EQ(run(command + " --jobs 3", piped), one) << command << piped;
            EXPECT_NE(std::get<2>(one).find("4 of 2500 records failed"), std::string::npos)
                << command << std::get<2>(one);
        }
}

// Each thread builds filters for its own source and destination names, which
// /etc/hosts (no name service traffic) maps to addresses of that thread alone.
TEST(Threads, FiltersTokensAndPatterns) {
    std::string hosts = testkit::read_file("/etc/hosts");
    for (int t = 0; t < kThreads; ++t)
        hosts += "10.71." + std::to_string(t) + ".1 lbsrc" + std::to_string(t) + "\n10.72." +
                 std::to_string(t) + ".2 lbdst" + std::to_string(t) + "\n";
    ASSERT_TRUE(testkit::write_file("/etc/hosts", hosts));
    std::vector<std::vector<unsigned char>> records(kThreads, std::vector<unsigned char>(4096, 0));
    std::vector<std::string> expected(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        const std::string n = std::to_string(t);
        const std::string text = "(or priN<='5' src=='lbsrc" + n + "' dst!='lbdst" + n +
                                 "' user!='alice,bob' service=='http, 53/udp')";
        lb::report_record::builder(records[t]).filter(text);
        char out[8096] = "";
        get_report_fltrstr(records[t].data(), out, sizeof out);
        expected[t] = out;
        ASSERT_NE(expected[t].find(" OR client=10.71." + n + ".1 OR -dst=10.72." + n + ".2 "),
                  std::string::npos)
            << expected[t];
    }
    std::vector<int> wrong(kThreads);
    run_together([&](int t) {
        for (int round = 0; round < 3000; ++round) {
            char out[8096] = "";
            get_report_fltrstr(records[t].data(), out, sizeof out);
            wrong[t] += out != expected[t];
            char match[64] = "";
            wrong[t] += regex_match("[0-9]+/udp", "http, 53/udp", match) != 1 ||
                        std::string(match) != "53/udp" ||
                        std::string(fn_getservbyport_3(1, 443, nullptr)) != "https";
        }
    });
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0)) << "wrong strings per thread";
}

// One compiled record filter shared by every thread: matching changes nothing in it.
TEST(Threads, OneRecordFilterManyMatchers) {
    const std::vector<std::string> lines = sample_lines("attack.txt");
    log_filter *f = log_filter_compile(
        "pri=alert src=100.64.0.0/10 OR src=198.51.100.0/24 http_method=g*", nullptr);
    std::vector<int> selected(kThreads);
    run_together([&](int t) {
        for (int round = 0; round < 200; ++round)
            for (const std::string &text : lines) {
                const std::string line = text + " \n";
                kv_entries items;
                if (log_filter_may_match(f, line.data(), line.size()) &&
                    parse_disk_log_entry(3, line.data(), int(line.size()), &items) > 0)
                    selected[t] += log_filter_match(f, &items);
            }
    });
    EXPECT_EQ(selected, std::vector<int>(kThreads, 200)) << "one sample line per round";
    log_filter_free(f);
}

TEST(Threads, DiagnosticLinesFromThreads) {
    unlink("/var/log/dlog_logd");
    run_together([](int t) {
        for (int i = 0; i < 100; ++i)
            rt_log(1, "thread %d line %d\n", t, i);
    });
    std::string text = testkit::read_file("/var/log/dlog_logd");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kThreads * 100);
}

} // namespace
