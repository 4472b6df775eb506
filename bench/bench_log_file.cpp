// Reading every record of a log file: with the index read once, through the
// version-independent calls, and by offset with get_log_line (which reads the
// header and the whole index for each record). Run side by side; compare the
// items/s of one run. Then a whole cached file of sample attack records, in
// bytes/s: a plain read() loop over its bytes (the ceiling), the sequential
// reader, and a get_log_data_global loop.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "logbase.h"
#include "logfile_writer.hpp"

namespace {

// A log file of `records` attack-sized lines in a private temporary file,
// opened read-only and removed at scope exit.
class SampleLog {
  public:
    SampleLog(int version, int records) {
        std::vector<std::string> lines;
        for (int i = 0; i < records; ++i) {
            std::string line = "date=2026-11-20 time=08:02:" + std::to_string(i % 60) +
                               " log_id=20000008 msg=\"record " + std::to_string(i) + "\" ";
            line.resize(700, 'x');
            lines.push_back(line + " \n");
        }
        char path[] = "/tmp/logbase-bench.XXXXXX";
        int tmp = mkstemp(path);
        if (tmp >= 0) close(tmp);
        path_ = path;
        logfile_writer::save(path_, logfile_writer::log_file(version, lines));
        fd_ = open(path_.c_str(), O_RDONLY);
        get_log_file_header_global(fd_, &header_);
    }
    ~SampleLog() {
        close(fd_);
        unlink(path_.c_str());
    }
    int fd() const { return fd_; }
    const log_header &header() const { return header_; }

  private:
    std::string path_;
    int fd_ = -1;
    log_header header_{};
};

void BM_IndexReadOnce(benchmark::State &state) {
    SampleLog log(2, static_cast<int>(state.range(0)));
    char buf[LOG_MAX_RECORD_LENGTH];
    for (auto _ : state) {
        log_header header{};
        get_log_file_header(log.fd(), &header);
        std::vector<log_index_entry> index(header.index_capacity);
        get_all_file_index(log.fd(), index.data(), &header);
        unsigned int len = 0, off = 0;
        for (uint32_t seq = 0; seq < header.record_count; ++seq)
            if (get_log_data(log.fd(), static_cast<int>(seq), buf, &header, &len, &off) != 0)
                state.SkipWithError("record not read");
        benchmark::DoNotOptimize(len);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_GlobalBySeq(benchmark::State &state, int version) {
    SampleLog log(version, static_cast<int>(state.range(0)));
    char buf[LOG_MAX_RECORD_LENGTH];
    for (auto _ : state) {
        unsigned int len = 0, off = 0;
        for (uint32_t seq = 0; seq < log.header().record_count; ++seq)
            if (get_log_data_global(log.fd(), static_cast<int>(seq), buf, &log.header(), &len,
                                    &off) != 0)
                state.SkipWithError("record not read");
        benchmark::DoNotOptimize(len);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_LineByOffset(benchmark::State &state) {
    SampleLog log(2, static_cast<int>(state.range(0)));
    const uint32_t content = 24 + 8 * log.header().index_capacity;
    char buf[LOG_MAX_RECORD_LENGTH];
    for (auto _ : state) {
        for (int64_t i = 0; i < state.range(0); ++i)
            if (get_log_line(log.fd(), 2, static_cast<int>(content + i * 702), buf) != 702)
                state.SkipWithError("record not read");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The sample attack lines, with their version tag, repeated to 64 MiB in a
// version-13 file, read once before the runs so that it is cached.
class CachedLog {
  public:
    static const CachedLog &get() {
        static const CachedLog log;
        return log;
    }
    ~CachedLog() {
        close(fd_);
        unlink(path_.c_str());
    }
    int fd() const { return fd_; }
    int64_t bytes() const { return bytes_; }

  private:
    CachedLog() {
        std::ifstream in(LOGBASE_SAMPLE_DIR "/attack.txt");
        std::vector<std::string> samples, records;
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) samples.push_back(line + " \n");
        for (size_t total = 0; total < (size_t{64} << 20) && !samples.empty();)
            for (const std::string &line : samples) {
                records.push_back(line);
                total += line.size();
            }
        char path[] = "/tmp/logbase-bench.XXXXXX";
        int tmp = mkstemp(path);
        if (tmp >= 0) close(tmp);
        path_ = path;
        std::string file = logfile_writer::log_file(13, records);
        bytes_ = static_cast<int64_t>(file.size());
        logfile_writer::save(path_, file);
        fd_ = open(path_.c_str(), O_RDONLY);
        std::vector<char> chunk(1 << 20);
        while (read(fd_, chunk.data(), chunk.size()) > 0) {
        }
    }
    std::string path_;
    int fd_ = -1;
    int64_t bytes_ = 0;
};

void BM_WholeFileReadLoop(benchmark::State &state) {
    const CachedLog &log = CachedLog::get();
    std::vector<char> chunk(1 << 20);
    for (auto _ : state) {
        lseek(log.fd(), 0, SEEK_SET);
        int64_t total = 0;
        for (ssize_t n; (n = read(log.fd(), chunk.data(), chunk.size())) > 0;)
            total += n;
        if (total != log.bytes()) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * log.bytes());
}

void BM_WholeFileStream(benchmark::State &state) {
    const CachedLog &log = CachedLog::get();
    for (auto _ : state) {
        log_stream *stream = nullptr;
        if (log_stream_open(log.fd(), &stream) != 0) state.SkipWithError("not opened");
        log_record record;
        uint64_t sum = 0;
        while (log_stream_next(stream, &record) == LOG_STREAM_RECORD)
            sum += record.length + static_cast<unsigned char>(record.data[0]);
        benchmark::DoNotOptimize(sum);
        log_stream_close(stream);
    }
    state.SetBytesProcessed(state.iterations() * log.bytes());
}

void BM_WholeFileGlobalBySeq(benchmark::State &state) {
    const CachedLog &log = CachedLog::get();
    char buf[LOG_MAX_RECORD_LENGTH];
    for (auto _ : state) {
        log_header header{};
        get_log_file_header_global(log.fd(), &header);
        unsigned int len = 0, off = 0;
        uint64_t sum = 0;
        for (uint32_t seq = 0; seq < header.record_count; ++seq)
            if (get_log_data_global(log.fd(), static_cast<int>(seq), buf, &header, &len, &off) == 0)
                sum += len + static_cast<unsigned char>(buf[0]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * log.bytes());
}

BENCHMARK(BM_IndexReadOnce)->Arg(100)->Arg(1000);
BENCHMARK_CAPTURE(BM_GlobalBySeq, indexed, 2)->Arg(100)->Arg(1000);
BENCHMARK_CAPTURE(BM_GlobalBySeq, version1_blocks, 1)->Arg(100)->Arg(1000);
BENCHMARK(BM_LineByOffset)->Arg(100)->Arg(1000);
BENCHMARK(BM_WholeFileReadLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeFileStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeFileGlobalBySeq)->Unit(benchmark::kMillisecond);

} // namespace
