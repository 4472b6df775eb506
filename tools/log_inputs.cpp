#include "log_inputs.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <immintrin.h>
#include <memory>
#include <mutex>
#include <sched.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "cli.hpp"

namespace cli {

namespace {

// How far the run is through one file: bytes of a file, records of a pipe.
class FileProgress {
  public:
    FileProgress(const char *command, const LogReader &reader)
        : progress_(std::string(command) + " " + shown_name(reader) +
                        (reader.seekable() ? " (bytes)" : " (records)"),
                    reader.seekable() ? static_cast<uint64_t>(reader.size()) : 0),
          by_offset_(reader.seekable()) {}
    void at(const LogReader::Record &record) {
        progress_.update(by_offset_ ? record.offset : ++records_);
    }

  private:
    Progress progress_;
    bool by_offset_;
    uint64_t records_ = 0;
};

// The library's name rule, for a name it takes for a log file name.
int category_by_name(const std::string &path, std::string &why_not) {
    if (path == "-") {
        why_not = "standard input has no file name";
        return LOG_CAT_NONE;
    }
    const std::string name = base_name(path);
    if (match_logfname(name.c_str(), nullptr, nullptr) != 1) {
        why_not = "'" + name + "' is not a log file name (alog.log, tlog.3.log, elog.log...)";
        return LOG_CAT_NONE;
    }
    const int category = get_log_type_by_filename(name.c_str());
    if (category == LOG_CAT_NONE)
        why_not = "the log file name '" + name + "' is of no category's letter";
    return category;
}

// The category whose layout the record parses with and whose name its own
// type= item gives.
int category_by_type(const LogReader::Record &record, std::string &why_not) {
    static kv_entries items;
    for (int category : {LOG_CAT_ATTACK, LOG_CAT_TRAFFIC, LOG_CAT_EVENT}) {
        if (parse_disk_log_entry(category, record.data, static_cast<int>(record.length), &items) <
            1)
            continue;
        const kv_value *type = parse_get_value(&items, "type");
        if (type != nullptr && std::string_view(type->val, static_cast<size_t>(type->val_len)) ==
                                   category_name(category))
            return category;
    }
    const char *type = static_cast<const char *>(memmem(record.data, record.length, " type=", 6));
    if (type == nullptr)
        why_not = "record " + std::to_string(record.seq) + " has no type= item";
    else
        why_not = "record " + std::to_string(record.seq) +
                  " is no attack, traffic or event record (" +
                  std::string(type + 1, strcspn(type + 1, " \n")) + ")";
    return LOG_CAT_NONE;
}

// The records' bytes of a batch, each followed by a NUL and padded to a
// cache line. They are written with non-temporal stores: the batch is read
// on another core, and a regular store would first have to take each line
// back from the cache of the core that read it last time round, which cost
// more than the copy itself.
class BatchText {
  public:
    explicit BatchText(size_t capacity) { reserve(capacity); }
    const char *data() const { return base_; }
    size_t size() const { return used_; }
    void clear() { used_ = 0; }

    // Appends the n bytes at p and a NUL; returns where they start.
    size_t add(const char *p, size_t n) {
        if (used_ + n + 2 * kLine > capacity_) reserve(2 * (used_ + n + 2 * kLine));
        char *w = base_ + used_;
        size_t i = 0;
        for (; i + kLine <= n; i += kLine)
            put_line(w + i, p + i);
        alignas(kLine) char tail[kLine] = {}; // the rest, the NUL and zeros
        std::memcpy(tail, p + i, n - i);
        put_line(w + i, tail);
        const size_t at = used_;
        used_ += i + kLine;
        return at;
    }

  private:
    static constexpr size_t kLine = 64;
    static void put_line(char *w, const char *p) {
        for (size_t k = 0; k < kLine; k += 16)
            _mm_stream_si128(reinterpret_cast<__m128i *>(w + k),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + k)));
    }
    void reserve(size_t capacity) {
        std::unique_ptr<char[]> grown(new char[capacity + kLine]); // not zeroed
        char *base = reinterpret_cast<char *>(
            (reinterpret_cast<uintptr_t>(grown.get()) + kLine - 1) & ~uintptr_t{kLine - 1});
        if (used_ > 0) std::memcpy(base, base_, used_);
        owned_ = std::move(grown);
        base_ = base;
        capacity_ = capacity;
    }
    std::unique_ptr<char[]> owned_;
    char *base_ = nullptr;
    size_t capacity_ = 0, used_ = 0;
};

struct StreamCloser {
    void operator()(log_stream *stream) const { log_stream_close(stream); }
};

// A batch of records, handled on a worker thread into its own output and
// messages, then written in its turn. From a pipe the reading thread copies
// the records into the batch; from a regular file it only lists them (found
// without reading their bytes), and the thread that handles the batch reads
// them with a reader of the batch's own: the bytes then cross no core. Batches
// are bounded in bytes, so that memory stays the same whatever the records'
// size (a record larger than the bound makes a batch of its own).
struct Batch {
    static constexpr size_t kBytes = size_t{512} << 10;
    static constexpr size_t kRecords = 8192;
    // A listed batch spans at most the bytes the library's reader takes in
    // one read (1 MiB), so that reading it costs one read, of nothing else.
    static constexpr uint64_t kSpan = uint64_t{1} << 20;

    struct Entry {
        size_t at;       // in text, or in unreadable for an unreadable record
        unsigned length; // of the text, or of the message
        unsigned offset, seq;
        bool unreadable;
    };
    // A record that failed or said something: its messages end at
    // message_end in `messages`.
    struct Event {
        size_t entry, message_end;
        bool failed;
    };
    enum class State { kFree, kQueued, kDone };

    LogReader::Record record(const Entry &e) const {
        return {text.data() + e.at, e.length, e.offset, e.seq};
    }
    bool full() const { return text.size() >= kBytes || entries.size() >= kRecords; }
    bool listed() const { return fd >= 0; }

    // A record listed (its bytes not read) when the span allows it.
    bool list(const LogReader::Record &r) {
        const uint64_t start = std::min<uint64_t>(span_start, r.offset),
                       end = std::max<uint64_t>(span_end, uint64_t{r.offset} + r.length);
        if (!entries.empty() && end - start > kSpan) return false;
        span_start = start;
        span_end = end;
        entries.push_back({0, r.length, r.offset, r.seq, false});
        return true;
    }

    // Filled by the reading thread.
    BatchText text{kBytes + 2 * LOG_MAX_RECORD_LENGTH}; // the records' bytes
    std::string unreadable;
    std::vector<Entry> entries;
    int fd = -1; // a regular file's, for a listed batch
    uint64_t span_start = UINT64_MAX, span_end = 0;
    // Made by the worker.
    std::unique_ptr<RecordHandler> handler;
    const InputFile *file = nullptr;
    Output out{Output::kInMemory, kBytes};
    std::string messages;
    std::vector<Event> events;
    State state = State::kFree; // under the pool's lock while the batch is out
    // A listed batch's reader, kept from batch to batch of the file.
    std::unique_ptr<log_stream, StreamCloser> stream;
    unsigned next_seq = UINT_MAX; // of that reader, UINT_MAX when unknown

    // On a worker: each record through the batch's handler, its messages
    // held.
    void handle() {
        HeldMessages held(messages);
        for (size_t i = 0; i < entries.size(); ++i) {
            Entry &e = entries[i];
            const size_t before = messages.size();
            bool ok = false;
            if (e.unreadable) {
                messages.append(unreadable, e.at, e.length);
            } else if (listed()) {
                ok = handle_listed(e);
            } else {
                if (i + 1 < entries.size()) prefetch(entries[i + 1]);
                ok = handler->record(*file, record(e));
            }
            if (!ok || messages.size() != before) events.push_back({i, messages.size(), !ok});
        }
        _mm_sfence(); // the copies of failed records, before the batch goes back
    }

    // A listed record, read here. One that fails is copied into the text, for
    // the reading thread to look at; one that cannot be read again (the file
    // changed since it was listed) is said unreadable, in its turn.
    bool handle_listed(Entry &e) {
        LogReader::Record r{};
        std::string why;
        if (!read_listed(e, r, why)) {
            e.unreadable = true;
            report_record(*file, e.seq, "unreadable: " + why);
            return false;
        }
        if (handler->record(*file, r)) return true;
        e.at = text.add(r.data, r.length);
        e.length = r.length;
        return false;
    }

    bool read_listed(const Entry &e, LogReader::Record &out, std::string &why) {
        if (!stream) {
            log_stream *opened = nullptr;
            if (const int code = log_stream_open(fd, &opened); code != 0) {
                why = log_stream_strerror(code);
                return false;
            }
            stream.reset(opened);
            next_seq = UINT_MAX;
        }
        if (e.seq != next_seq) log_stream_seek(stream.get(), e.seq);
        log_record r{};
        const int result = log_stream_next(stream.get(), &r);
        next_seq = result == LOG_STREAM_RECORD ? e.seq + 1 : UINT_MAX;
        if (result != LOG_STREAM_RECORD || r.offset != e.offset) {
            why = *log_stream_error(stream.get()) != '\0' ? log_stream_error(stream.get())
                                                          : "the file changed while it was read";
            return false;
        }
        out = {r.data, r.text_length, r.offset, r.seq};
        return true;
    }

    // The text went to memory, not to a cache: the next record is fetched
    // while this one is handled.
    void prefetch(const Entry &e) const {
        if (e.unreadable) return;
        for (unsigned k = 0; k < e.length; k += 64)
            _mm_prefetch(text.data() + e.at + k, _MM_HINT_T0);
    }

    void reset() {
        span_start = UINT64_MAX;
        span_end = 0;
        entries.clear();
        events.clear();
        messages.clear();
        unreadable.clear();
        out.clear(kBytes);
        text.clear();
        state = State::kFree;
    }
};

// The threads of a run with more than one job; they take batches in the
// order they are queued.
class Workers {
  public:
    explicit Workers(unsigned count) {
        // The descriptor tables are complete before any thread parses.
        for (int category : {LOG_CAT_EVENT, LOG_CAT_TRAFFIC, LOG_CAT_ATTACK})
            (void)_get_ed_by_cat(category);
        try {
            for (unsigned i = 0; i < count; ++i)
                threads_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            // Fewer threads than asked for (none: the run takes one job).
        }
    }
    Workers(const Workers &) = delete;
    Workers &operator=(const Workers &) = delete;
    ~Workers() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_all();
        for (std::thread &t : threads_)
            t.join();
    }
    size_t size() const { return threads_.size(); }

    void submit(Batch &batch) {
        _mm_sfence(); // the text's non-temporal stores land before the hand-over
        {
            std::lock_guard lock(mutex_);
            batch.state = Batch::State::kQueued;
            queue_.push_back(&batch);
        }
        ready_.notify_one();
    }
    // Until the batch is handled; false at once for a free one. Rather
    // than sleep, the waiting thread handles the oldest batch no worker has
    // taken yet: with it the run's threads are as many as its jobs.
    bool wait(Batch &batch) {
        std::unique_lock lock(mutex_);
        if (batch.state == Batch::State::kFree) return false;
        while (batch.state == Batch::State::kQueued) {
            if (queue_.empty()) {
                done_.wait(lock);
                continue;
            }
            Batch *oldest = queue_.front();
            queue_.pop_front();
            lock.unlock();
            oldest->handle();
            lock.lock();
            oldest->state = Batch::State::kDone;
            done_.notify_all();
        }
        return true;
    }

  private:
    void work() {
        for (;;) {
            Batch *batch;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                batch = queue_.front();
                queue_.pop_front();
            }
            batch->handle();
            {
                std::lock_guard lock(mutex_);
                batch->state = Batch::State::kDone;
            }
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_, done_;
    std::deque<Batch *> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// The workers of a run, started when the first file that can use them
// starts.
class WorkerPool {
  public:
    explicit WorkerPool(unsigned jobs) : jobs_(jobs) {}
    Workers *get() {
        if (!workers_ && jobs_ > 1) {
            workers_ = std::make_unique<Workers>(jobs_ - 1); // and the reading thread
            if (workers_->size() == 0) workers_.reset(), jobs_ = 1;
        }
        return workers_.get();
    }

  private:
    unsigned jobs_;
    std::unique_ptr<Workers> workers_;
};

// A pipe's records, read on a thread of their own so that the handling side
// sees when the pipe gives nothing: it then writes out the records it holds
// before it waits, and a pipe that pauses still shows every record read.
class Pump {
  public:
    Pump(LogReader &reader, bool &reader_kept)
        : shared_(std::make_shared<Shared>()), reader_kept_(reader_kept) {
        shared_->reader = &reader;
        thread_ = std::thread([shared = shared_] { read(*shared); });
    }
    Pump(const Pump &) = delete;
    Pump &operator=(const Pump &) = delete;
    // A thread waiting in a read is left to it, and the reader is never
    // freed (`reader_kept`): the run is ending, and the pipe may never give
    // more.
    ~Pump() {
        bool reading;
        {
            std::lock_guard lock(shared_->mutex);
            shared_->stopping = true;
            reading = shared_->reading;
        }
        shared_->space.notify_all();
        if (reading) {
            thread_.detach();
            reader_kept_ = true;
        } else {
            thread_.join();
        }
    }

    // The next record as LogReader::next gives it, valid until the next
    // call; when none has come for a moment, `idle` runs before the wait.
    LogReader::Step next(LogReader::Record &out, const std::function<void()> &idle) {
        std::unique_lock lock(shared_->mutex);
        if (shared_->items.empty()) {
            // Woken by a handful of records, else after the pause.
            shared_->ready.wait_for(lock, kPause, [&] { return shared_->items.size() >= kChunk; });
        }
        if (shared_->items.empty()) {
            lock.unlock();
            idle();
            lock.lock();
            shared_->idle = true;
            shared_->ready.wait(lock, [&] { return !shared_->items.empty(); });
            shared_->idle = false;
        }
        current_ = std::move(shared_->items.front());
        shared_->items.pop_front();
        shared_->bytes -= current_.text.size() + sizeof(Item);
        lock.unlock();
        shared_->space.notify_one();
        out = {current_.text.c_str(), static_cast<unsigned>(current_.text.size()), current_.offset,
               current_.seq};
        return current_.step;
    }
    const std::string &error() const { return current_.error; }

  private:
    // How long the pipe may give nothing before what is held is written.
    static constexpr std::chrono::milliseconds kPause{2};
    static constexpr size_t kBytes = size_t{1} << 20; // read ahead at most
    static constexpr size_t kChunk = 64;              // records that wake the other side

    struct Item {
        LogReader::Step step;
        unsigned offset, seq;
        std::string text, error;
    };
    struct Shared {
        LogReader *reader;
        std::mutex mutex;
        std::condition_variable ready, space;
        std::deque<Item> items;
        size_t bytes = 0;
        bool stopping = false;
        bool idle = false;    // the handling side waits for any record
        bool reading = false; // in the reader: no read starts once stopping
    };

    static void read(Shared &shared) {
        for (LogReader::Step step = LogReader::Step::kRecord; step != LogReader::Step::kEnd;) {
            LogReader::Record record{};
            {
                std::lock_guard lock(shared.mutex);
                if (shared.stopping) return;
                shared.reading = true;
            }
            step = shared.reader->next(record);
            Item item{step, record.offset, record.seq, {}, shared.reader->error()};
            if (step == LogReader::Step::kRecord) item.text.assign(record.data, record.length);
            std::unique_lock lock(shared.mutex);
            shared.reading = false;
            shared.space.wait(lock, [&] { return shared.stopping || shared.bytes < kBytes; });
            if (shared.stopping) return;
            shared.bytes += item.text.size() + sizeof(Item);
            shared.items.push_back(std::move(item));
            const bool wake =
                shared.idle || shared.items.size() == kChunk || step == LogReader::Step::kEnd;
            lock.unlock();
            if (wake) shared.ready.notify_one();
        }
    }

    std::shared_ptr<Shared> shared_; // the thread's too, as it may outlive this
    bool &reader_kept_;
    std::thread thread_;
    Item current_{};
};

struct FileTally {
    std::string name;
    unsigned long long records = 0;
    unsigned long long failed = 0;
    bool cut_short = false;
    bool stopped = false; // the handler stopped the reading
};

// Reads one file; false when the file as a whole failed.
class FileRun {
  public:
    FileRun(LogReader &reader, const InputOptions &options, RecordHandler &handler, Output &out,
            bool several, FileTally &tally, WorkerPool &pool, bool &reader_kept)
        : reader_(reader), options_(options), handler_(handler), out_(out), several_(several),
          tally_(tally), pool_(pool), reader_kept_(reader_kept) {}
    FileRun(const FileRun &) = delete;
    FileRun &operator=(const FileRun &) = delete;
    // Batches still out (a failed write stopped the run) are waited for.
    ~FileRun() {
        for (Batch &batch : batches_)
            workers_->wait(batch);
        pump_.reset();
    }

    bool run() {
        if (options_.needs_category) {
            category_ = category_by_name(reader_.path(), why_not_name_);
            by_name_ = category_ != LOG_CAT_NONE;
            if (by_name_ && !agrees_with_option("the file name says")) return false;
        }
        if ((!options_.needs_category || category_ != LOG_CAT_NONE) && !start()) return false;
        if (options_.only_seq || options_.only_offset) return run_one();
        FileProgress progress(options_.command, reader_);
        LogReader::Record record{};
        for (;;) {
            const LogReader::Step step = next(record);
            if (step == LogReader::Step::kEnd) break;
            if (!handler_.reading(record)) {
                tally_.stopped = true;
                break;
            }
            ++tally_.records;
            if (step == LogReader::Step::kFailed) {
                if (batches_.empty())
                    counted(record, false, true);
                else
                    add_unreadable(record);
            } else {
                progress.at(record);
                if (!take(record)) return false;
            }
            if (out_.failed()) return true;
        }
        write_batches();
        if (out_.failed()) return true;
        if (!read_error().empty()) {
            tally_.cut_short = true;
            fail(kFailed, shown_name(reader_) + ": reading stopped: " + read_error());
        }
        return true;
    }

  private:
    InputFile file() const { return {reader_, category_, several_}; }

    // A pipe read in batches is read on a thread of its own from the record
    // after the one that started the batches (whose bytes are copied by then).
    // A pipe that trickles without pausing has what it gave written at
    // least every kHeld.
    LogReader::Step next(LogReader::Record &record) {
        if (!batches_.empty() && !reader_.seekable() && !pump_)
            pump_.emplace(reader_, reader_kept_);
        if (listing_) return reader_.skip(record);
        if (!pump_) return reader_.next(record);
        if (!filling().entries.empty() && std::chrono::steady_clock::now() - filling_since_ > kHeld)
            drain();
        return pump_->next(record, [this] { drain(); });
    }
    const std::string &read_error() const { return pump_ ? pump_->error() : reader_.error(); }

    bool start() {
        started_ = true;
        if (!handler_.start(file())) return false;
        // Batches on the workers for the records read from the start.
        if (options_.only_seq || options_.only_offset || (workers_ = pool_.get()) == nullptr)
            return true;
        shared_file_.emplace(file());
        std::vector<Batch> batches(2 * (workers_->size() + 1));
        for (Batch &batch : batches) {
            batch.file = &*shared_file_;
            if (!(batch.handler = handler_.worker(batch.out))) return true;
            if (reader_.seekable()) batch.fd = reader_.fd();
        }
        batches_ = std::move(batches);
        listing_ = reader_.seekable();
        return true;
    }

    Batch &filling() { return batches_[filling_]; }

    void add(const LogReader::Record &record) {
        Batch &batch = filling();
        if (batch.listed()) {
            if (!batch.list(record)) {
                send();
                filling().list(record);
            }
            if (filling().full()) send();
            return;
        }
        if (pump_ && batch.entries.empty()) filling_since_ = std::chrono::steady_clock::now();
        const size_t at = batch.text.add(record.data, record.length);
        batch.entries.push_back({at, record.length, record.offset, record.seq, false});
        if (batch.full()) send();
    }

    // The message of an unreadable record, said in its turn.
    void add_unreadable(const LogReader::Record &record) {
        Batch &batch = filling();
        if (pump_ && batch.entries.empty()) filling_since_ = std::chrono::steady_clock::now();
        const size_t at = batch.unreadable.size();
        {
            HeldMessages held(batch.unreadable);
            say_unreadable(record.seq, read_error());
        }
        batch.entries.push_back({at, static_cast<unsigned>(batch.unreadable.size() - at),
                                 record.offset, record.seq, true});
        if (batch.full()) send();
    }

    // Queues the batch being filled and makes the next one free: batches
    // are filled in turn, so the next is the oldest still out.
    void send() {
        workers_->submit(filling());
        filling_ = (filling_ + 1) % batches_.size();
        write_batch(filling());
    }

    void write_batch(Batch &batch) {
        if (!workers_->wait(batch)) return;
        if (!out_.failed()) {
            out_.write(batch.out.held());
            size_t said = 0;
            for (const Batch::Event &event : batch.events) {
                put_messages(
                    std::string_view(batch.messages).substr(said, event.message_end - said));
                said = event.message_end;
                const Batch::Entry &entry = batch.entries[event.entry];
                if (event.failed && entry.unreadable)
                    counted({nullptr, 0, entry.offset, entry.seq}, false, true);
                else if (event.failed)
                    counted(batch.record(entry), false, false);
            }
        }
        batch.reset();
    }

    // Every batch out and the one being filled, written in order.
    void drain() {
        if (!filling().entries.empty()) workers_->submit(filling());
        for (size_t k = 1; k <= batches_.size(); ++k)
            write_batch(batches_[(filling_ + k) % batches_.size()]);
    }

    // The file's last batches; then the workers' handlers give what they
    // gathered and go, as the next file may start otherwise.
    void write_batches() {
        if (batches_.empty()) return;
        drain();
        for (Batch &batch : batches_)
            handler_.merge(*batch.handler);
        batches_.clear();
    }

    bool agrees_with_option(const char *rule) {
        if (options_.category_option == LOG_CAT_NONE || options_.category_option == category_)
            return true;
        fail(kFailed, shown_name(reader_) + ": " + rule + " " + category_name(category_) +
                          ", but --category says " + category_name(options_.category_option));
        return false;
    }

    // The category from the first readable record when the name gave none.
    bool decide(const LogReader::Record &record) {
        std::string why_not_type;
        category_ = category_by_type(record, why_not_type);
        if (category_ != LOG_CAT_NONE) return agrees_with_option("its type= items say") && start();
        category_ = options_.category_option;
        if (category_ != LOG_CAT_NONE) return start();
        fail(kFailed, shown_name(reader_) + ": cannot tell the category: " + why_not_name_ + "; " +
                          why_not_type + "; and no --category a|t|e was given");
        return false;
    }

    bool take(const LogReader::Record &record) {
        if (!started_ && !decide(record)) return false;
        if (!batches_.empty())
            add(record);
        else
            counted(record, handler_.record(file(), record), false);
        return true;
    }

    // A record handled or found unreadable, in file order.
    void counted(const LogReader::Record &record, bool ok, bool unreadable) {
        if (unreadable && batches_.empty()) say_unreadable(record.seq, reader_.error());
        if (!ok && ++tally_.failed == 1 && by_name_ && !unreadable) explain_name_mismatch(record);
    }

    // The name rule decided, and a record fails: say so once when the
    // record is of another category by its own type= item.
    void explain_name_mismatch(const LogReader::Record &record) {
        std::string unused;
        const int by_type = category_by_type(record, unused);
        if (by_type == LOG_CAT_NONE || by_type == category_) return;
        fail(kFailed, shown_name(reader_) + ": the file name says " + category_name(category_) +
                          ", but record " + std::to_string(record.seq) + " is a" +
                          (by_type == LOG_CAT_ATTACK ? "n " : " ") + category_name(by_type) +
                          " record by its type= item; read it as standard input (-) to go by "
                          "that");
    }

    void say_unreadable(unsigned seq, const std::string &why) {
        // The reader's reasons may already name the record.
        const std::string named = "record " + std::to_string(seq) + ": ";
        report_record(file(), seq,
                      "unreadable: " + (why.starts_with(named) ? why.substr(named.size()) : why));
    }

    // --seq or --offset: one record, by position when the file allows it.
    bool run_one() {
        std::optional<long long> seq = options_.only_seq;
        if (options_.only_offset) seq = seq_at_offset(*options_.only_offset);
        if (reader_.seekable()) {
            if (!seq || *seq < 0 || *seq >= reader_.count()) return no_record();
            ++tally_.records;
            auto record = reader_.read(static_cast<int>(*seq));
            if (!record)
                return counted({nullptr, 0, 0, static_cast<unsigned>(*seq)}, false, true), true;
            return take(*record);
        }
        LogReader::Record record{};
        for (LogReader::Step step; (step = reader_.next(record)) != LogReader::Step::kEnd;) {
            const bool wanted =
                seq ? record.seq == *seq
                    : *options_.only_offset == 0 || record.offset == *options_.only_offset;
            if (!wanted) continue;
            ++tally_.records;
            if (step == LogReader::Step::kFailed) return counted(record, false, true), true;
            return take(record);
        }
        return no_record();
    }

    // The sequence number of the record at a file offset; nullopt when only
    // a scan of an indexed stream can tell.
    std::optional<long long> seq_at_offset(long long offset) {
        if (reader_.version() < LOG_FIRST_INDEXED_VERSION)
            return offset / (reader_.version() == 0 ? LOG_BLOCK_SIZE_V0 : LOG_BLOCK_SIZE_V1);
        if (!reader_.seekable()) return std::nullopt;
        if (offset < 0 || offset > INT32_MAX) return -1;
        return get_log_index_global(reader_.fd(), static_cast<int>(offset), &reader_.header());
    }

    bool no_record() {
        const std::string what =
            options_.only_offset
                ? "no record starts at offset " + std::to_string(*options_.only_offset)
                : "no record " + std::to_string(*options_.only_seq) + " (the file holds " +
                      std::to_string(reader_.count()) + ")";
        fail(kFailed, shown_name(reader_) + ": " + what);
        return false;
    }

    LogReader &reader_;
    const InputOptions &options_;
    RecordHandler &handler_;
    Output &out_;
    bool several_;
    FileTally &tally_;
    WorkerPool &pool_;
    bool &reader_kept_;
    Workers *workers_ = nullptr;
    std::optional<Pump> pump_;
    static constexpr std::chrono::milliseconds kHeld{50};
    std::chrono::steady_clock::time_point filling_since_;
    std::optional<InputFile> shared_file_; // what the workers' handlers see
    std::vector<Batch> batches_;           // empty when records go to handler_
    size_t filling_ = 0;
    bool listing_ = false; // a regular file's records are listed, not read here
    int category_ = LOG_CAT_NONE;
    bool started_ = false;
    bool by_name_ = false;
    std::string why_not_name_;
};

void print_summary(const std::vector<FileTally> &tallies) {
    unsigned long long records = 0, failed = 0;
    std::string files;
    for (const FileTally &t : tallies) {
        records += t.records;
        failed += t.failed;
        if (t.failed == 0 && !t.cut_short) continue;
        files += (files.empty() ? "" : ", ") + t.name + ": " + std::to_string(t.failed) + " of " +
                 std::to_string(t.records) + (t.cut_short ? ", the rest unreadable" : "");
    }
    if (!files.empty())
        fail(kFailed, std::to_string(failed) + " of " + std::to_string(records) +
                          " records failed (" + files + ")");
}

} // namespace

std::string input_paths(const std::vector<std::string> &arguments,
                        std::vector<std::string> &paths) {
    paths = arguments;
    if (!paths.empty()) return {};
    if (isatty(STDIN_FILENO)) return "FILE expected (standard input is a terminal)";
    paths.push_back("-");
    return {};
}

int category_code(const std::string &text) {
    for (int category : {LOG_CAT_EVENT, LOG_CAT_TRAFFIC, LOG_CAT_ATTACK})
        if (text == category_name(category) ||
            (text.size() == 1 && text[0] == category_name(category)[0]))
            return category;
    return LOG_CAT_NONE;
}

void read_category(Args &args, InputOptions &options) {
    if (auto text = args.value("--category")) {
        options.category_option = category_code(*text);
        if (options.category_option == LOG_CAT_NONE)
            args.reject("--category", "takes a, t or e, not '" + *text + "'");
    }
}

std::string parse_failure(int code) {
    const char *meaning;
    switch (code) {
    case KV_ERR_CATEGORY:
        meaning = "unknown category";
        break;
    case KV_ERR_EMPTY:
        meaning = "nothing after the version tag";
        break;
    case KV_ERR_KEY:
        meaning = "a key is not where the layout wants it";
        break;
    case KV_ERR_END:
        meaning = "no valid end of an item or of the line";
        break;
    case KV_ERR_EQUALS:
        meaning = "no '=' after a key";
        break;
    case KV_ERR_QUOTE:
        meaning = "a quoted value does not open with '\"'";
        break;
    default:
        meaning = "unknown failure";
    }
    return "does not parse: code " + std::to_string(code) + " (" + meaning + ")";
}

void report_record(const InputFile &file, unsigned seq, const std::string &why) {
    fail(kFailed, shown_name(file.reader) + ": record " + std::to_string(seq) + " " + why);
}

void put_file_heading(Output &out, const InputFile &file, bool &first) {
    if (!file.several) return;
    out.write(first ? "==> " : "\n==> ");
    out.write(file.reader.path());
    out.write(" <==\n");
    first = false;
}

std::string shown_name(const LogReader &reader) {
    return reader.path() == "-" ? "standard input" : reader.path();
}

void read_jobs(Args &args, InputOptions &options) {
    if (auto jobs = args.number("--jobs", 1, 256)) options.jobs = static_cast<unsigned>(*jobs);
}

int read_inputs(const std::vector<std::string> &paths, const InputOptions &options,
                RecordHandler &handler, Output &out) {
    int status = kOk;
    std::vector<FileTally> tallies;
    unsigned jobs = options.jobs;
    if (jobs == 0) {
        cpu_set_t cores;
        jobs = sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 1;
    }
    WorkerPool pool(jobs);
    for (const std::string &path : paths) {
        auto reader = std::make_unique<LogReader>();
        if (std::string error = reader->open(path); !error.empty()) {
            status = fail(kFailed, error);
            continue;
        }
        tallies.push_back({shown_name(*reader)});
        bool reader_kept = false;
        if (!FileRun(*reader, options, handler, out, paths.size() > 1, tallies.back(), pool,
                     reader_kept)
                 .run())
            status = kFailed;
        if (reader_kept) {
            // A thread may still be reading with it, until the process ends.
            [[maybe_unused]] static LogReader *kept = nullptr;
            kept = reader.release();
        }
        if (tallies.back().failed > 0 || tallies.back().cut_short) status = kFailed;
        if (out.failed() || tallies.back().stopped) break;
    }
    if (!out.failed()) print_summary(tallies);
    return status;
}

} // namespace cli
