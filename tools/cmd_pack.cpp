// logbase pack: a binary log file of any version from text lines. It streams:
// a first pass checks every line and counts the records, later passes write
// the header, the index and the records, so memory stays the same whatever
// the size of the input.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli.hpp"
#include "files.hpp"
#include "guards.hpp"
#include "log_file_layout.hpp"
#include "logfile_writer.hpp"

namespace {

// Longer lines are refused anyway; only this much of one is kept.
constexpr size_t kLineKept = 2 * LOG_MAX_RECORD_LENGTH;
// Record offsets in the file format and in its readers are 32-bit.
constexpr uint64_t kFileMax = UINT32_MAX;

int run(int argc, char **argv, cli::Output &out);

const cli::Command kPack{
    "pack", "pack --version V [--out FILE] [LINES.txt | -]",
    "Writes a log file of version V from text holding one log line per line\n"
    "(blank lines are skipped), read from LINES.txt or, given - or nothing, from\n"
    "standard input. Each record ends as the appliance writes it, with a space\n"
    "and a line feed. Version 0: 1024-byte blocks, and the first line must begin\n"
    "with 'd' (date=...). Version 1: 4096-byte blocks; a line without a version\n"
    "text gets \"v001xxxx\" in front. Version 2 and higher: a 24-byte header\n"
    "(version text \"vVVVxxxx\"), the index, then the records (4096 bytes at most).\n"
    "A line whose version text (v and three digits) names another version than V\n"
    "is refused.\n\n"
    "With --out the file is written beside FILE under a temporary name and\n"
    "renamed to FILE once complete, so a failure leaves FILE as it was. FILE\n"
    "must be a regular file if it exists (a link is followed to one); it keeps\n"
    "its mode and owner. Without --out it goes to standard output, which must\n"
    "not be a terminal. Input that cannot be read twice (a pipe) is copied, as\n"
    "it is checked, to a temporary file in FILE's folder (or TMPDIR, default\n"
    "/tmp); the first bad line stops it.\n",
    run};

std::string reason() {
    return std::strerror(errno);
}

// The input's lines, read from its start again for every pass. Input that
// cannot be read twice (start -1) is read once, each byte also going to
// `copy`, from which the later passes read.
class Lines {
  public:
    Lines(int fd, off_t start, cli::Output *copy = nullptr)
        : fd_(fd), start_(start), copy_(copy), buffer_(size_t{1} << 16) {}

    bool rewind() {
        pos_ = end_ = 0;
        number_ = 0;
        return start_ < 0 || lseek(fd_, start_, SEEK_SET) == start_;
    }

    // The next line without its line feed, at most kLineKept bytes of it, and
    // its full length; false at the end or after a read error (errno set). A
    // line longer than kLineKept, which no record holds, ends there (cut()),
    // so an endless line is never read to its end.
    bool next(std::string &line, uint64_t &length) {
        line.clear();
        length = 0;
        cut_ = false;
        for (;;) {
            if (pos_ == end_ && !fill()) return length > 0 && errno == 0;
            const char *start = buffer_.data() + pos_;
            const void *feed = std::memchr(start, '\n', end_ - pos_);
            size_t n =
                feed ? static_cast<size_t>(static_cast<const char *>(feed) - start) : end_ - pos_;
            line.append(start, std::min(n, kLineKept - std::min(kLineKept, line.size())));
            length += n;
            pos_ += n;
            if (!feed && length > kLineKept) {
                ++number_;
                cut_ = true;
                return true;
            }
            if (feed) {
                ++pos_;
                ++number_;
                return true;
            }
        }
    }

    uint64_t number() const { return number_; }
    bool cut() const { return cut_; }

  private:
    bool fill() {
        ssize_t n;
        do {
            n = ::read(fd_, buffer_.data(), buffer_.size());
        } while (n < 0 && errno == EINTR);
        pos_ = 0;
        end_ = n > 0 ? static_cast<size_t>(n) : 0;
        if (copy_ != nullptr && !copy_->failed())
            copy_->write(std::string_view(buffer_.data(), end_));
        if (n == 0) {
            errno = 0;
            ++number_; // a last line without its line feed
        }
        return n > 0;
    }

    int fd_;
    off_t start_;
    cli::Output *copy_;
    std::vector<char> buffer_;
    size_t pos_ = 0, end_ = 0;
    uint64_t number_ = 0;
    bool cut_ = false;
};

// What a pass saw; later passes must see what the first one did.
struct Totals {
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t lengths_hash = 0;
    bool operator==(const Totals &) const = default;
};

bool has_version_text(const std::string &line) {
    return line.size() >= 4 && line[0] == 'v' &&
           std::isdigit(static_cast<unsigned char>(line[1])) &&
           std::isdigit(static_cast<unsigned char>(line[2])) &&
           std::isdigit(static_cast<unsigned char>(line[3]));
}

// The record a line becomes (empty for a blank line): the line without its
// trailing blanks and carriage return, then " \n". Empty `why` when it can be
// a record of `version`.
void to_record(const std::string &line, uint64_t length, bool cut, int version, bool first,
               std::string &record, std::string &why) {
    record.clear();
    size_t used = line.size();
    while (used > 0 && (line[used - 1] == '\r' || line[used - 1] == ' '))
        --used;
    if (used == 0 && length <= line.size()) return;
    if (has_version_text(line) && std::atoi(line.substr(1, 3).c_str()) != version) {
        why = "its version text " + line.substr(0, 4) + " contradicts --version " +
              std::to_string(version);
        return;
    }
    if (version == 0 && first && line[0] != 'd') {
        why = "a version-0 file must begin with a line starting 'd'";
        return;
    }
    if (version == 1 && !has_version_text(line)) record = logfile_writer::version_text(1);
    uint64_t size = record.size() + (length > line.size() ? length : used) + 2;
    size_t limit = version < LOG_FIRST_INDEXED_VERSION ? lb::logfile::block_size(version)
                                                       : LOG_MAX_RECORD_LENGTH;
    if (size > limit || cut) {
        why = "its record of " +
              (cut ? "more than " + std::to_string(kLineKept) : std::to_string(size)) +
              " bytes is longer than " + std::to_string(limit);
        return;
    }
    record.append(line, 0, used);
    record += " \n";
}

uint64_t file_size_of(int version, const Totals &totals) {
    if (version < LOG_FIRST_INDEXED_VERSION)
        return totals.records * lb::logfile::block_size(version);
    return lb::logfile::kHeaderSize + lb::logfile::kEntrySize * totals.records + totals.bytes;
}

// Runs `emit` on every record of the input, in order. Empty on success,
// otherwise what went wrong, naming the line.
std::string each_record(Lines &lines, int version, Totals &totals,
                        const std::function<void(const std::string &)> &emit) {
    if (!lines.rewind()) return "cannot read it: " + reason();
    std::string line, record, why;
    uint64_t length = 0;
    errno = 0;
    while (lines.next(line, length)) {
        to_record(line, length, lines.cut(), version, totals.records == 0, record, why);
        if (!why.empty()) return "line " + std::to_string(lines.number()) + ": " + why;
        if (record.empty()) continue;
        ++totals.records;
        totals.bytes += record.size();
        totals.lengths_hash = totals.lengths_hash * 1000003 + record.size();
        emit(record);
        // Checked as it grows, so that an endless input stops here.
        if (file_size_of(version, totals) > kFileMax)
            return "the records need a file above 4 GiB, more than 32-bit offsets reach";
        errno = 0;
    }
    if (errno != 0) return "cannot read it: " + reason();
    return "";
}

// Writes the file's bytes through `out`; empty on success, else the reason.
std::string write_file(Lines &lines, int version, const Totals &expected, cli::Output &out) {
    static const char zeros[LOG_BLOCK_SIZE_V1] = {}; // the larger block
    // The index pass and the record pass each count once.
    cli::Progress progress("packing records",
                           expected.records * (version < LOG_FIRST_INDEXED_VERSION ? 1 : 2));
    Totals seen;
    uint64_t done = 0;
    auto record_pass = [&](const std::function<void(const std::string &)> &emit) {
        seen = Totals{};
        std::string error = each_record(lines, version, seen, [&](const std::string &record) {
            if (!out.failed()) emit(record);
            progress.update(++done);
        });
        if (error.empty() && seen != expected) error = "it changed while it was packed";
        return error;
    };
    if (version < LOG_FIRST_INDEXED_VERSION)
        return record_pass([&](const std::string &record) {
            out.write(record);
            out.write(std::string_view(zeros, lb::logfile::block_size(version) - record.size()));
        });
    out.write(logfile_writer::indexed_header(version, static_cast<uint32_t>(expected.records)));
    uint64_t offset = 0;
    std::string error = record_pass([&](const std::string &record) {
        out.write(logfile_writer::index_entry(static_cast<uint32_t>(offset),
                                              static_cast<uint32_t>(record.size())));
        offset += record.size();
    });
    if (!error.empty()) return error;
    return record_pass([&](const std::string &record) { out.write(record); });
}

std::string folder_of(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// An unnamed file in `folder` to hold a copy of input that cannot be read
// twice; -1 with the reason in `why`.
int spool_file(const std::string &folder, std::string &why) {
    lb::unique_fd copy(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!copy.valid()) {
        std::string name = folder + "/.logbase-pack.XXXXXX";
        copy = lb::unique_fd(mkostemp(name.data(), O_CLOEXEC));
        if (copy.valid()) unlink(name.c_str());
    }
    if (!copy.valid())
        return why = "cannot make a temporary file in " + folder + ": " + reason(), -1;
    return copy.release();
}

// The input, readable from `start` again for every pass (-1: only once).
struct Input {
    lb::unique_fd owned;
    int fd = -1;
    off_t start = 0;
};

std::string open_input(const std::string &path, Input &in) {
    if (path == "-") {
        in.fd = STDIN_FILENO;
    } else {
        in.owned = lb::unique_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!in.owned.valid()) return "cannot open it: " + reason();
        in.fd = in.owned.get();
    }
    struct stat st {};
    if (fstat(in.fd, &st) != 0) return "cannot read it: " + reason();
    if (S_ISDIR(st.st_mode)) return "it is a directory";
    in.start = S_ISREG(st.st_mode) ? lseek(in.fd, 0, SEEK_CUR) : -1;
    return "";
}

// The file --out FILE replaces: FILE, or the end of its chain of links, so
// the links stay. Only a regular file is replaced; a device, a FIFO or a
// folder is not ours to replace, nor is where a link to nothing points.
// `old` tells whether it exists and, if so, its kind, mode and owner.
std::string output_file(const std::string &path, std::string &file,
                        std::optional<struct stat> &old) {
    std::optional<std::string> end = lb::final_target(path);
    if (!end) return "cannot follow its links: " + reason();
    file = *end;
    struct stat st {};
    if (lstat(file.c_str(), &st) != 0) {
        if (errno != ENOENT) return reason();
        if (file != path) return "it is a link to nothing (" + file + ")";
        old.reset();
        return "";
    }
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    old = st;
    return "";
}

// Writes the file beside `file` under a temporary name, then renames it to
// `file`; on any failure the temporary file goes and `file` stays as it was.
// A file replaced keeps its mode and, where the process may, its owner.
std::string write_in_place(const std::string &file, const std::optional<struct stat> &old,
                           Lines &lines, int version, const Totals &totals) {
    std::string base = file.substr(file.rfind('/') + 1);
    std::string temp = folder_of(file) + "/." + base + ".XXXXXX";
    lb::unique_fd fd(mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return "cannot create a file beside " + file + ": " + reason();
    std::string error;
    {
        cli::Output out(fd.get());
        error = write_file(lines, version, totals, out);
        if (error.empty() && !out.flush()) error = std::strerror(out.error());
    }
    mode_t mask = umask(0);
    umask(mask);
    if (old) (void)!fchown(fd.get(), old->st_uid, old->st_gid);
    mode_t mode = old ? old->st_mode & 07777 : 0666 & ~mask;
    if (error.empty() && (fchmod(fd.get(), mode) != 0 || fsync(fd.get()) != 0 ||
                          close(fd.release()) != 0 || rename(temp.c_str(), file.c_str()) != 0))
        error = reason();
    if (error.empty()) return "";
    unlink(temp.c_str());
    return error;
}

int run(int argc, char **argv, cli::Output &out) {
    cli::Args args(argc, argv, {"--version", "--out"}, {});
    auto version = args.number("--version", 0, 999);
    if (args.ok() && !version) args.reject("--version", "is required");
    if (int usage = args.check(kPack, 0, 1, "one LINES file expected")) return usage;
    auto out_path = args.value("--out");
    if (!out_path && isatty(STDOUT_FILENO))
        return cli::usage_error(kPack, "give --out FILE or redirect standard output");
    std::string path = args.positional().empty() ? "-" : args.positional()[0];
    std::string name = path == "-" ? "standard input" : path;

    std::string file, error;
    std::optional<struct stat> old;
    if (out_path && !(error = output_file(*out_path, file, old)).empty())
        return cli::fail(cli::kFailed, "cannot write " + *out_path + ": " + error);
    Input input;
    if (!(error = open_input(path, input)).empty())
        return cli::fail(cli::kFailed, "cannot pack " + name + ": " + error);
    // Input that cannot be read twice is copied as the first pass reads it,
    // which stops at the first bad line.
    const char *tmpdir = std::getenv("TMPDIR");
    lb::unique_fd spooled;
    std::optional<cli::Output> copy;
    if (input.start < 0) {
        std::string folder = out_path ? folder_of(file) : tmpdir && *tmpdir ? tmpdir : "/tmp";
        spooled = lb::unique_fd(spool_file(folder, error));
        if (!spooled.valid()) return cli::fail(cli::kFailed, "cannot pack " + name + ": " + error);
        copy.emplace(spooled.get());
    }
    Lines lines(input.fd, input.start, copy ? &*copy : nullptr);
    Totals totals;
    error = each_record(lines, static_cast<int>(*version), totals, [](const std::string &) {});
    if (error.empty() && copy) {
        if (!copy->flush())
            error =
                "cannot copy it to a temporary file: " + std::string(std::strerror(copy->error()));
        lines = Lines(spooled.get(), 0);
    }
    if (!error.empty()) return cli::fail(cli::kFailed, "cannot pack " + name + ": " + error);

    if (out_path) {
        error = write_in_place(file, old, lines, static_cast<int>(*version), totals);
        if (!error.empty())
            return cli::fail(cli::kFailed, "cannot write " + *out_path + ": " + error);
        return cli::kOk;
    }
    error = write_file(lines, static_cast<int>(*version), totals, out);
    if (!error.empty()) return cli::fail(cli::kFailed, "cannot pack " + name + ": " + error);
    return cli::kOk;
}

cli::Registrar registrar{kPack};

} // namespace
