#include "run_report.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "chart_engine.hpp"
#include "files.hpp"
#include "guards.hpp"
#include "log_inputs.hpp"
#include "logbase.h"
#include "logbase_host.h"
#include "record_select.hpp"
#include "report_document.hpp"
#include "report_record.hpp"
#include "report_views.hpp"

namespace report_run {

namespace {

// Where the appliance keeps what a run makes (the library's own paths).
constexpr const char *kReportsRoot = "/var/log/Reports_adom";
constexpr const char *kRunningRoot = "/var/log/tmprpts_adom";

volatile sig_atomic_t g_stop = 0;

extern "C" void on_stop(int) {
    g_stop = 1;
}

// Thrown while the formats are written when a stop signal came; the run
// unwinds and removes what it wrote.
struct Stopped {};

// SIGINT (kill_running_report_process) and SIGTERM stop the run; the old
// handlers come back when it ends.
class StopSignals {
  public:
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = on_stop;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &old_int_);
        sigaction(SIGTERM, &action, &old_term_);
    }
    ~StopSignals() {
        sigaction(SIGINT, &old_int_, nullptr);
        sigaction(SIGTERM, &old_term_, nullptr);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

  private:
    struct sigaction old_int_ {
    }, old_term_{};
};

// Blocks the stop signals while the finished report takes its name, so a
// stop either comes before (nothing under the name) or after (the report
// stays whole).
class Held {
  public:
    Held() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~Held() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    Held(const Held &) = delete;
    Held &operator=(const Held &) = delete;

  private:
    sigset_t old_;
};

bool make_directories(const std::string &dir) {
    if (dir.empty() || dir == "/") return true;
    struct stat st {};
    if (::lstat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && !make_directories(dir.substr(0, slash))) return false;
    return ::mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Replaces the regular file at `path` (or makes it) through a temporary
// name in its folder and a rename; something else at `path` is refused.
bool replace_file(const std::string &path, std::string_view bytes) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    std::string temporary = path + ".XXXXXX";
    lb::unique_fd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd.valid()) return false;
    const bool written =
        ::fchmod(fd.get(), 0644) == 0 && write_all(fd.get(), bytes) && ::close(fd.release()) == 0;
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    return false;
}

std::string local_text(time_t t) {
    struct tm broken {};
    char text[64] = "?";
    if (localtime_r(&t, &broken) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &broken);
    return text;
}

// The progress file that get_start_end_percent reads: the start time, then
// "secs: S, P% done" while running and the end time once done. Rewritten at
// most once a second.
class StatusFile {
  public:
    StatusFile(std::string path, uint64_t total)
        : path_(std::move(path)), total_(total), start_(time(nullptr)) {
        write("secs: 0, 0% done");
    }
    void at(uint64_t done) {
        if (++calls_ % 1024 != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now < next_) return;
        next_ = now + std::chrono::seconds(1);
        const uint64_t percent = total_ == 0 ? 0 : std::min<uint64_t>(99, done * 100 / total_);
        write("secs: " + std::to_string(time(nullptr) - start_) + ", " + std::to_string(percent) +
              "% done");
    }
    void end() { write(std::to_string(time(nullptr))); }

  private:
    void write(const std::string &last) {
        // A progress file that cannot be written costs the watcher its view,
        // not the run its report.
        replace_file(path_, std::to_string(start_) + "\n" + last + "\n");
    }
    std::string path_;
    uint64_t total_;
    time_t start_;
    uint32_t calls_ = 0;
    std::chrono::steady_clock::time_point next_{};
};

// The records the report's log filter selects, fed to the charts. With
// several jobs each worker counts into a fresh set of the charts, merged
// into the run's own after each file; progress and the stop request follow
// the reading thread.
class RunRecords : public cli::SelectedRecords {
  public:
    RunRecords(const cli::Selection &selection, ChartSet &charts, StatusFile *status)
        : SelectedRecords(selection), charts_(&charts), status_(status) {}
    bool start(const cli::InputFile &file) override {
        category_ = file.category;
        charting_ = charts_->start(file.category);
        base_ += size_;
        size_ = file.reader.seekable() ? static_cast<uint64_t>(file.reader.size()) : 0;
        return true;
    }
    bool reading(const cli::LogReader::Record &record) override {
        status_->at(base_ + (size_ > 0 ? record.offset : 0)); // a pipe's share is unknown
        return !g_stop;
    }
    bool record(const cli::InputFile &file, const cli::LogReader::Record &record) override {
        ++read_;
        const Take taken = take(file, record);
        if (taken != Take::kSelected) return taken == Take::kPassed;
        ++selected_;
        if (charting_) charts_->add(file.category, items_);
        return true;
    }
    std::unique_ptr<cli::RecordHandler> worker(cli::Output &) override {
        auto copy = std::make_unique<RunRecords>(selection_, *charts_, nullptr);
        copy->own_ = charts_->fresh();
        copy->charts_ = copy->own_.get();
        copy->charting_ = copy->charts_->start(category_);
        return copy;
    }
    void merge(cli::RecordHandler &worker) override {
        auto &copy = static_cast<RunRecords &>(worker);
        charts_->merge(*copy.charts_);
        read_ += copy.read_;
        selected_ += copy.selected_;
    }
    uint64_t read() const { return read_; }
    uint64_t selected() const { return selected_; }

  private:
    ChartSet *charts_;
    std::unique_ptr<ChartSet> own_; // a worker's
    StatusFile *status_;
    int category_ = LOG_CAT_NONE;
    bool charting_ = false;
    uint64_t base_ = 0, size_ = 0, read_ = 0, selected_ = 0;
};

class PidFile {
  public:
    explicit PidFile(std::string path) : path_(std::move(path)) {}
    // Empty on success, else why not.
    std::string claim() {
        if (auto running = holder())
            return "a run of it is going on already (process " + std::to_string(*running) + ", " +
                   path_ + ")";
        if (!replace_file(path_, std::to_string(getpid()) + " 0\n"))
            return "cannot write " + path_ + ": " + std::strerror(errno);
        claimed_ = true;
        return {};
    }
    ~PidFile() {
        if (claimed_) ::unlink(path_.c_str());
    }
    PidFile(const PidFile &) = delete;
    PidFile &operator=(const PidFile &) = delete;

  private:
    // The live process another run left in the pid file.
    std::optional<int> holder() const {
        std::string text;
        if (!lb::read_regular_file(path_.c_str(), 64, text)) return std::nullopt;
        const int pid = std::atoi(text.c_str());
        if (pid > 0 && pid != getpid() && (::kill(pid, 0) == 0 || errno == EPERM)) return pid;
        return std::nullopt;
    }
    std::string path_;
    bool claimed_ = false;
};

// A folder the run fills under a temporary name; removed with what the
// run put in it unless it was given its final name.
class TemporaryFolder {
  public:
    explicit TemporaryFolder(std::string path) : path_(std::move(path)) {}
    bool make() { return made_ = ::mkdir(path_.c_str(), 0755) == 0; }
    const std::string &path() const { return path_; }
    bool publish(const std::string &final_path) {
        if (::rename(path_.c_str(), final_path.c_str()) != 0) return false;
        made_ = false;
        return true;
    }
    ~TemporaryFolder() {
        if (!made_) return;
        if (DIR *dir = ::opendir(path_.c_str())) {
            while (const dirent *entry = ::readdir(dir))
                if (lb::plain_component(entry->d_name)) ::unlinkat(::dirfd(dir), entry->d_name, 0);
            ::closedir(dir);
        }
        ::rmdir(path_.c_str());
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

  private:
    std::string path_;
    bool made_ = false;
};

bool exists(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The name get_report_name gave, made free in `dir` the same way (a
// suffix _001 to _999) when --out names another folder that holds it.
std::optional<std::string> free_name(const std::string &dir, const std::string &name) {
    if (!exists(dir + "/" + name)) return name;
    for (int i = 1; i < 1000; ++i) {
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, "_%03d", i);
        if (!exists(dir + "/" + name + suffix)) return name + suffix;
    }
    return std::nullopt;
}

// The definition with its logo names only when each is a plain file name:
// a name from the record must not lead out of the logo folder.
std::vector<unsigned char> checked_logos(const void *report, std::string &refused) {
    std::vector<unsigned char> copy(static_cast<const unsigned char *>(report),
                                    static_cast<const unsigned char *>(report) + RPT_DEF_MIN_SIZE);
    for (size_t at : {size_t{RPT_DEF_TITLE_LOGO}, size_t{RPT_DEF_HEADER_LOGO}}) {
        char *name = reinterpret_cast<char *>(copy.data() + at);
        name[RPT_DEF_LOGO_NAME_SIZE - 1] = '\0';
        if (name[0] == '\0') continue;
        struct stat st {};
        const std::string source = std::string("/migadmin/reportlogo/thumbs/") + name;
        if (lb::plain_component(name) && ::lstat(source.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            continue;
        refused += (refused.empty() ? "" : ", ") + cli::escaped(name);
        name[0] = '\0';
    }
    return copy;
}

// The logo copy_report_logo_files left in `dir` under `stem`, or empty.
std::string logo_in(const std::string &dir, const char *stem) {
    std::string found;
    if (DIR *folder = ::opendir(dir.c_str())) {
        while (const dirent *entry = ::readdir(folder))
            if (std::string_view(entry->d_name).starts_with(stem))
                found = dir + "/" + entry->d_name;
        ::closedir(folder);
    }
    return found;
}

uint64_t input_bytes(const std::vector<std::string> &paths) {
    uint64_t total = 0;
    for (const std::string &path : paths) {
        struct stat st {};
        if (path != "-" && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            total += static_cast<uint64_t>(st.st_size);
    }
    return total;
}

struct Format {
    uint64_t flag;
    const char *name;
    std::string (*render)(const ReportDocument &);
};

int stopped(const std::string &name) {
    return cli::fail(cli::kFailed, "the run of " + name + " was stopped; no report was written");
}

} // namespace

std::string work_dir(const std::string &domain, const std::string &name) {
    return std::string(kRunningRoot) + "/" + domain + "/" + name;
}

std::string reports_dir(const std::string &domain) {
    return std::string(kReportsRoot) + "/" + domain;
}

int run_report(cli::Output &out, const RunRequest &request) {
    const std::string &name = request.name;
    std::vector<std::string> paths;
    if (std::string error = cli::input_paths(request.files, paths); !error.empty())
        return cli::fail(cli::kUsage, "report run: " + error);

    // 1. The definition and its settings.
    auto settings = std::make_unique<rpt_settings>();
    cli::Selection selection;
    const void *report = cli::report_selection(name.c_str(), *settings, selection);
    if (report == nullptr) return cli::kFailed;
    std::vector<uint32_t> ids(settings->query_ids, settings->query_ids + settings->query_count);

    const std::string out_dir =
        request.out_dir.empty() ? reports_dir(request.domain) : request.out_dir;
    struct stat st {};
    if ((request.out_dir.empty() && !make_directories(out_dir)) ||
        ::stat(out_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return cli::fail(cli::kFailed, out_dir + " is no folder the report can go to");

    // The pid file and the progress beside it.
    const std::string work = work_dir(request.domain, name);
    if (!make_directories(work)) return cli::fail(cli::kFailed, "cannot make " + work);
    StopSignals signals;
    g_stop = 0;
    PidFile pid(work + "/pid");
    if (std::string why = pid.claim(); !why.empty())
        return cli::fail(cli::kFailed, "cannot run " + name + ": " + why);
    StatusFile status(work + "/.status", input_bytes(paths));

    // 2 to 5. One pass: the selected records, each parsed once, into every chart.
    ChartSet charts(ids, static_cast<time_t>(settings->window.begin),
                    static_cast<time_t>(settings->window.end));
    RunRecords records(selection, charts, &status);
    cli::InputOptions options;
    options.command = "report run";
    options.needs_category = true;
    options.jobs = request.jobs;
    const int result = cli::read_inputs(paths, options, records, out);
    if (g_stop) return status.end(), stopped(name);

    ReportDocument document;
    document.name = name;
    document.start = static_cast<time_t>(settings->window.begin);
    document.end = static_cast<time_t>(settings->window.end) + 1;
    document.window_text =
        local_text(document.start) + " to " + local_text(static_cast<time_t>(settings->window.end));
    document.filter_text = settings->log_filter;
    document.records_read = records.read();
    document.records_selected = records.selected();
    for (const std::string &path : paths)
        document.inputs.push_back(path);
    document.charts = charts.finish((settings->flags & RPT_FLAG_OBFUSCATE_USERS) != 0);

    // 6. The name, a folder under a temporary name, the logos.
    std::unique_ptr<char, decltype(&std::free)> given(
        get_report_name(name.c_str(), request.domain.c_str()), &std::free);
    std::optional<std::string> output_name;
    if (given) output_name = free_name(out_dir, given.get());
    if (!output_name) {
        status.end();
        return cli::fail(cli::kFailed, "no free report name for " + name + " in " + out_dir);
    }
    document.output_name = *output_name;
    TemporaryFolder folder(out_dir + "/." + *output_name + ".partial-" + std::to_string(getpid()));
    if (!folder.make()) {
        status.end();
        return cli::fail(cli::kFailed,
                         "cannot make " + folder.path() + ": " + std::strerror(errno));
    }
    std::string refused;
    const std::vector<unsigned char> logos = checked_logos(report, refused);
    if (!refused.empty())
        cli::fail(cli::kOk, "note: logos left out (no plain file name or no regular file in "
                            "/migadmin/reportlogo/thumbs): " +
                                refused);
    copy_report_logo_files(folder.path().c_str(), logos.data());
    document.title_logo = logo_in(folder.path(), "_rpt_title_logo");
    document.header_logo = logo_in(folder.path(), "_rpt_header_logo");
    document.generated = local_text(time(nullptr));

    // 7. The formats of the definition, and charts.json always.
    static const Format kFormats[] = {{RPT_FLAG_HTML, "html", render_html},
                                      {RPT_FLAG_PDF, "pdf", nullptr},
                                      {RPT_FLAG_RTF, "rtf", nullptr},
                                      {RPT_FLAG_TXT, "txt", render_txt},
                                      {RPT_FLAG_MHT, "mht", render_mht}};
    std::vector<std::string> written, not_produced;
    auto write = [&](const std::string &file, const std::string &bytes) {
        if (g_stop) throw Stopped{};
        if (!replace_file(folder.path() + "/" + file, bytes))
            throw std::runtime_error("cannot write " + file + ": " + std::strerror(errno));
        written.push_back(file);
    };
    try {
        for (const Format &format : kFormats) {
            if ((settings->flags & format.flag) == 0) continue;
            if (format.render == nullptr)
                not_produced.emplace_back(format.name);
            else
                write(*output_name + "." + format.name, format.render(document));
        }
        write("charts.json", render_charts_json(document));
    } catch (const Stopped &) {
        status.end();
        return stopped(name);
    } catch (const std::exception &error) {
        status.end();
        return cli::fail(cli::kFailed, error.what());
    }

    const std::string final_path = out_dir + "/" + *output_name;
    {
        Held held;
        if (g_stop) return status.end(), stopped(name);
        if (!folder.publish(final_path)) {
            status.end();
            return cli::fail(cli::kFailed, "cannot rename the report to " + final_path + ": " +
                                               std::strerror(errno));
        }
        status.end();
    }

    size_t unavailable = 0;
    for (const Chart &chart : document.charts)
        unavailable += !chart.unavailable.empty();
    out.printf("report      %s\n", name.c_str());
    out.printf("output      %s\n", final_path.c_str());
    for (const std::string &file : written)
        out.printf("wrote       %s\n", file.c_str());
    if (!not_produced.empty()) {
        std::string list;
        for (const std::string &format : not_produced)
            list += (list.empty() ? "" : ", ") + format;
        out.printf("not produced %s (no writer of that format)\n", list.c_str());
    }
    out.printf("charts      %zu (%zu not available)\n", document.charts.size(), unavailable);
    out.printf("records     %llu selected of %llu read\n",
               static_cast<unsigned long long>(document.records_selected),
               static_cast<unsigned long long>(document.records_read));
    return result;
}

int stop_report(cli::Output &out, const std::string &name, const std::string &domain) {
    if (kill_running_report_process(domain.c_str(), name.c_str()) != 0)
        return cli::fail(cli::kFailed, "no run of " + name + " to stop (no process in " +
                                           work_dir(domain, name) + "/pid)");
    out.printf("asked the run of %s to stop\n", name.c_str());
    return cli::kOk;
}

} // namespace report_run
