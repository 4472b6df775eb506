// Reading a log file of any version front to back. Opening reads the version
// and header alone; the index is read when the first record needs it (on a
// pipe whole, at the first log_stream_next; on a regular file in chunks),
// and the content passes through one large window, so a record costs no
// system call of its own. A regular file is read with pread (the caller's
// file position stays where it was, and records may lie in any order); any
// other descriptor with read, where nothing can be read twice. The checks
// and diagnostic lines are those of the record calls.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "diag_log.hpp"
#include "index_lookup.hpp"

using namespace lb::logfile;

// A diagnostic line naming the exported function the caller called rather
// than the helper that found the fault, within the stream's budget.
#define STREAM_REPORT(s, text, ...)                                                                \
    do {                                                                                           \
        if (within_budget(s))                                                                      \
            LB_REPORT_AT((lb::report_site{__FILE_NAME__, __LINE__, (s)->api}),                     \
                         text __VA_OPT__(, ) __VA_ARGS__);                                         \
    } while (0)

// A number of the interface as text, for the static reasons.
#define STREAM_TEXT(x) #x
#define STREAM_NUMBER(x) STREAM_TEXT(x)

namespace {

constexpr size_t kWindowSize = size_t{1} << 20; // bytes of content per large read
constexpr uint32_t kIndexChunk = 8192;          // entries per index read of a regular file
// A stream keeps up to half its window behind the bytes it reads, so that
// records out of order, or after one that lies far ahead, can still be
// served; with the whole index it holds, a stream stays below 64 MiB.
constexpr size_t kStreamWindowSize = size_t{8} << 20;
constexpr uint32_t kMaxStreamEntries = (uint32_t{48} << 20) / kEntrySize;
// Diagnostic lines one stream writes; the rest are counted and the count
// written when it is closed, so a damaged file cannot flood the log.
constexpr unsigned kLineBudget = 100;

} // namespace

struct log_stream {
    int fd;
    bool positional; // a regular file, read with pread
    int version;
    log_header header;
    uint64_t file_size; // regular files only

    // Indexed versions: `records` entries are served; entries
    // [index_base, index_base + index_held) are in `index` (a regular file
    // holds one chunk at a time, a stream the whole index).
    uint32_t records;
    log_index_entry *index;
    uint32_t index_base;
    uint32_t index_held;
    // A pipe's index, not read yet: the first log_stream_next reads it.
    bool index_pending;
    // Records from cut_from on lie past the end of the file (once cut_known).
    bool cut_known;
    uint32_t cut_from;

    uint32_t next_seq;
    bool ended;
    // Why the last record failed, for log_stream_error; null once one reads well.
    const char *reason;
    const char *api; // the exported function running, named by diagnostic lines
    bool skipping;   // log_stream_skip: a regular file's record bytes are not read

    // File bytes [window_start, window_start + window_fill) are in `window`,
    // which has one byte more for the zero after a record. The byte that
    // zero replaced is put back before the window is used again.
    char *window;
    size_t window_size;
    uint64_t window_start;
    size_t window_fill;
    bool stream_ended; // a stream has given all its bytes; its end is the window's
    char *zeroed;
    char zeroed_byte;
    char empty_record[1]; // the data of a record of length 0

    unsigned lines_written;
    unsigned lines_left_out;
};

namespace {

bool within_budget(log_stream *s) {
    if (s->lines_written < kLineBudget) {
        ++s->lines_written;
        return true;
    }
    ++s->lines_left_out;
    return false;
}

// A fetch of bytes a stream has already dropped.
constexpr ssize_t kPassed = -2;

// One read at file offset `at` (pread) or at the stream's position.
ssize_t read_some(log_stream *s, void *buf, size_t count, uint64_t at) {
    for (;;) {
        ssize_t n = s->positional ? ::pread(s->fd, buf, count, static_cast<off_t>(at))
                                  : ::read(s->fd, buf, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Makes file bytes [at, at + length) (length <= LOG_MAX_RECORD_LENGTH)
// available at s->window + (at - s->window_start). Returns how many of them
// are there: fewer at the end of the file, -1 on a read error, kPassed when
// a stream has already dropped them. A greedy fetch fills the window as far
// as one read goes; otherwise no byte past at + length is read (the header
// at open, so that a pipe gives up nothing more).
ssize_t fetch(log_stream *s, uint64_t at, size_t length, bool greedy = true) {
    uint64_t end = s->window_start + s->window_fill;
    if (at >= s->window_start && at + length <= end) return static_cast<ssize_t>(length);
    if (s->positional) {
        if (at >= s->window_start && at <= end) {
            // Keep the part of the window from `at` on, then read behind it.
            size_t keep = static_cast<size_t>(end - at);
            std::memmove(s->window, s->window + (at - s->window_start), keep);
            s->window_fill = keep;
        } else {
            s->window_fill = 0;
        }
        s->window_start = at;
        while (s->window_fill < length) {
            size_t room = (greedy ? s->window_size : length) - s->window_fill;
            ssize_t n =
                read_some(s, s->window + s->window_fill, room, s->window_start + s->window_fill);
            if (n < 0) return -1;
            if (n == 0) break;
            s->window_fill += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(std::min(length, s->window_fill));
    }
    if (at < s->window_start) return kPassed;
    while (end < at + length && !s->stream_ended) {
        if (s->window_fill == s->window_size) {
            // Full: drop the front, keeping its later half and anything from `at` on.
            uint64_t keep_from = std::min(at, end - s->window_size / 2);
            size_t drop = static_cast<size_t>(keep_from - s->window_start);
            std::memmove(s->window, s->window + drop, s->window_fill - drop);
            s->window_start = keep_from;
            s->window_fill -= drop;
        }
        size_t room = s->window_size - s->window_fill;
        if (!greedy) room = std::min<uint64_t>(room, at + length - end);
        ssize_t n = read_some(s, s->window + s->window_fill, room, end);
        if (n < 0) return -1;
        if (n == 0) s->stream_ended = true;
        s->window_fill += static_cast<size_t>(n);
        end += static_cast<uint64_t>(n);
    }
    return at >= end ? 0 : static_cast<ssize_t>(std::min<uint64_t>(length, end - at));
}

// fetch() for a skip: how many of the bytes the file holds, as a read of
// them would find while the file keeps the size it had at open.
ssize_t held(const log_stream *s, uint64_t at, size_t length) {
    return at >= s->file_size ? 0
                              : static_cast<ssize_t>(std::min<uint64_t>(length, s->file_size - at));
}

// fetch(), or held() for a skip.
ssize_t reach(log_stream *s, uint64_t at, size_t length) {
    return s->skipping ? held(s, at, length) : fetch(s, at, length);
}

// Hands out the fetched bytes at `at` as a record, followed by a zero byte;
// for a skip, the record without its bytes.
int serve(log_stream *s, log_record *record, uint64_t at, uint32_t length) {
    char *data = s->empty_record; // nothing to fetch, wherever it lies
    if (s->skipping) {
        data = nullptr;
    } else if (length > 0) {
        data = s->window + (at - s->window_start);
        s->zeroed = data + length;
        s->zeroed_byte = *s->zeroed;
        *s->zeroed = '\0';
    }
    record->data = data;
    record->length = length;
    // Blocks are zero-padded: their line ends at the first zero byte.
    record->text_length = s->version < kFirstIndexedVersion && data != nullptr
                              ? static_cast<uint32_t>(strnlen(data, length))
                              : length;
    record->offset = static_cast<uint32_t>(at);
    s->reason = nullptr;
    ++s->next_seq;
    return LOG_STREAM_RECORD;
}

int fail(log_stream *s, const char *reason) {
    s->reason = reason;
    ++s->next_seq;
    return LOG_STREAM_FAILED;
}

int stop(log_stream *s, const char *reason) {
    s->reason = reason;
    s->ended = true;
    return LOG_STREAM_STOPPED;
}

// The words for a record that could not be fetched whole.
const char *short_read(ssize_t got) {
    if (got == kPassed)
        return "it lies before what the stream still holds, and a stream cannot go back";
    return got < 0 ? "the file could not be read" : "the record goes past the end of the file";
}

int next_block(log_stream *s, log_record *record) {
    uint32_t block = block_size(s->version);
    if (s->positional && s->next_seq >= s->header.record_count) return LOG_STREAM_END;
    uint64_t at = uint64_t{s->next_seq} * block;
    ssize_t got = reach(s, at, block);
    if (got == static_cast<ssize_t>(block)) return serve(s, record, at, block);
    if (got >= 0 && !s->positional) {
        // The stream ended; a trailing partial block is not a record.
        s->ended = true;
        return LOG_STREAM_END;
    }
    STREAM_REPORT(s, "fread failed\n");
    return s->positional ? fail(s, short_read(got)) : stop(s, short_read(got));
}

// Index entry `seq` of a regular file, read with its chunk when it is not
// held. False after get_file_index's line for a short read.
bool index_entry(log_stream *s, uint32_t seq, log_index_entry *entry, uint32_t chunk_base) {
    if (seq - s->index_base >= s->index_held) {
        uint32_t count = std::min(kIndexChunk, s->records - chunk_base);
        size_t bytes = size_t{kEntrySize} * count;
        uint64_t at = kHeaderSize + uint64_t{kEntrySize} * chunk_base;
        ssize_t got = read_some(s, s->index, bytes, at);
        if (got != static_cast<ssize_t>(bytes)) {
            s->index_held = 0;
            STREAM_REPORT(s, "read file failed \n\n");
            return false;
        }
        s->index_base = chunk_base;
        s->index_held = count;
    }
    *entry = s->index[seq - s->index_base];
    return true;
}

bool index_entry(log_stream *s, uint32_t seq, log_index_entry *entry) {
    return index_entry(s, seq, entry, seq);
}

// The first of the records that, to the last, cannot be read from a file of
// `end` bytes: each lies past the end or has a length no record has. One
// pass backwards over the index, made when the first record lies past the end.
uint32_t cut_short_from(log_stream *s, uint64_t end) {
    uint64_t content = kHeaderSize + index_bytes(s->header);
    uint32_t seq = s->records;
    for (; seq > 0; --seq) {
        log_index_entry e{};
        uint32_t base = seq > kIndexChunk ? seq - kIndexChunk : 0;
        if (!index_entry(s, seq - 1, &e, base)) break;
        bool unreadable =
            e.length > kMaxRecordLength || (e.length > 0 && content + e.offset + e.length > end);
        if (!unreadable) break;
    }
    return seq;
}

int next_indexed(log_stream *s, log_record *record) {
    uint32_t seq = s->next_seq;
    if (seq >= s->records) {
        if (seq >= s->header.record_count) return LOG_STREAM_END;
        // More records claimed than index slots: the first one past the
        // index fails as get_log_data fails it, and the rest are not tried.
        STREAM_REPORT(s, "Invalid seq number %d \n\n", static_cast<int>(seq));
        return stop(s, "the header claims more records than the index holds");
    }
    log_index_entry entry{};
    const char *bad_entry = nullptr;
    if (!index_entry(s, seq, &entry)) {
        bad_entry = "its index entry could not be read";
    } else if (entry.length > kMaxRecordLength) {
        STREAM_REPORT(s, "invalid log length %d \n\n", static_cast<int>(entry.length));
        bad_entry = "its index entry gives a length above " STREAM_NUMBER(LOG_MAX_RECORD_LENGTH);
    }
    if (bad_entry != nullptr) {
        STREAM_REPORT(s, "get_file_index failed\n");
        return fail(s, bad_entry);
    }
    uint64_t at = kHeaderSize + index_bytes(s->header) + entry.offset;
    if (entry.length == 0) return serve(s, record, at, 0);
    ssize_t got = reach(s, at, entry.length);
    if (got == kPassed) {
        STREAM_REPORT(s, "record %d at offset %u lies before what the stream still holds\n\n",
                      static_cast<int>(seq), static_cast<uint32_t>(at));
        return fail(s, short_read(got));
    }
    if (got >= 0 && got < static_cast<ssize_t>(entry.length)) {
        // Past the end: when every record from here on is, the file is cut
        // short, and one line says so instead of one failure per record.
        uint64_t end = s->positional ? s->file_size : s->window_start + s->window_fill;
        if (!s->cut_known) {
            s->cut_from = cut_short_from(s, end);
            s->cut_known = true;
        }
        if (seq >= s->cut_from) {
            STREAM_REPORT(s, "records %u to %u lie past the end of the file (%llu bytes)\n", seq,
                          std::max(s->header.record_count, s->records) - 1,
                          static_cast<unsigned long long>(end));
            s->reason = "it and the records after it lie past the end: the file is cut short";
            s->ended = true;
            return LOG_STREAM_CUT_SHORT;
        }
    }
    if (got != static_cast<ssize_t>(entry.length)) {
        STREAM_REPORT(s, "read failed, need read len %d, but read len %d\n",
                      static_cast<int>(entry.length), static_cast<int>(got));
        return fail(s, short_read(got));
    }
    return serve(s, record, at, entry.length);
}

// The index of a stream, read whole at the first log_stream_next: the
// entries to serve are kept, the free slots after them are read and
// dropped. 0, or the code with whose words log_stream_open refuses a
// regular file that fails so: LOG_STREAM_ERR_HEADER, LOG_STREAM_ERR_MEMORY.
int read_stream_index(log_stream *s) {
    uint32_t room = 0;
    for (uint32_t seq = 0; seq < s->records; ++seq) {
        if (seq == room) {
            // Grown as the entries arrive, so that a header claiming a huge
            // index costs no more memory than the stream delivers.
            room = static_cast<uint32_t>(std::min<uint64_t>(
                s->records, std::max<uint64_t>(uint64_t{room} * 2, kIndexChunk)));
            void *grown = std::realloc(s->index, size_t{kEntrySize} * room);
            if (grown == nullptr) {
                STREAM_REPORT(s, "malloc log index failed\n\n");
                return LOG_STREAM_ERR_MEMORY;
            }
            s->index = static_cast<log_index_entry *>(grown);
        }
        uint64_t at = kHeaderSize + uint64_t{kEntrySize} * seq;
        if (fetch(s, at, kEntrySize) != kEntrySize) {
            STREAM_REPORT(s, "read file failed \n\n");
            return LOG_STREAM_ERR_HEADER;
        }
        std::memcpy(&s->index[seq], s->window + (at - s->window_start), kEntrySize);
    }
    s->index_held = s->records;
    uint64_t content = kHeaderSize + index_bytes(s->header);
    // The free slots are dropped; the last index byte must be there.
    if (content > s->window_start + s->window_fill && fetch(s, content - 1, 1) != 1) {
        STREAM_REPORT(s, "read file failed \n\n");
        return LOG_STREAM_ERR_HEADER;
    }
    return 0;
}

// Version and header, and the checks of the header's claims: 0 or the
// failure result of log_stream_open. Reads no byte past the header.
int read_head(log_stream *s) {
    char verstr[8];
    if (fetch(s, 0, sizeof verstr, false) != sizeof verstr) {
        STREAM_REPORT(s, "read version info error\n\n");
        return LOG_STREAM_ERR_NOT_LOG;
    }
    std::memcpy(verstr, s->window, sizeof verstr);
    s->version = parse_log_version(verstr);
    if (s->version < 0) return LOG_STREAM_ERR_NOT_LOG;
    if (s->version < kFirstIndexedVersion) {
        synthesize_header(&s->header, s->version, static_cast<off_t>(s->file_size));
        return 0;
    }
    ssize_t got = fetch(s, 0, kHeaderSize, false);
    if (got != kHeaderSize) {
        STREAM_REPORT(s, "read file failed,rst = %d \n\n", static_cast<int>(got));
        return LOG_STREAM_ERR_HEADER;
    }
    std::memcpy(&s->header, s->window, kHeaderSize);
    s->records = searchable_entries(s->header);
    if (!s->positional) {
        // A pipe holds its index whole; one that cannot stay within 64 MiB
        // is refused now, the rest waits for the first record.
        if (s->records > kMaxStreamEntries) {
            STREAM_REPORT(s, "log index of %u entries is too large to hold for a stream\n\n",
                          s->records);
            return LOG_STREAM_ERR_MEMORY;
        }
        s->index_pending = true;
        return 0;
    }
    if (s->file_size < kHeaderSize + index_bytes(s->header)) {
        STREAM_REPORT(s, "read file failed \n\n");
        return LOG_STREAM_ERR_HEADER;
    }
    s->index = static_cast<log_index_entry *>(
        std::malloc(size_t{kEntrySize} * std::max(1u, std::min(kIndexChunk, s->records))));
    if (s->index == nullptr) {
        STREAM_REPORT(s, "malloc log index failed\n\n");
        return LOG_STREAM_ERR_MEMORY;
    }
    return 0;
}

// log_stream_next and log_stream_skip, whose lines name `api`.
int next_record(log_stream *stream, log_record *record, const char *api) {
    if (stream->zeroed != nullptr) {
        *stream->zeroed = stream->zeroed_byte;
        stream->zeroed = nullptr;
    }
    if (stream->ended) return LOG_STREAM_END;
    stream->api = api;
    record->seq = stream->next_seq;
    if (stream->index_pending) {
        // What a regular file's open refuses, a pipe finds here: the
        // reading stops at record 0 with the words of that refusal.
        stream->index_pending = false;
        if (int result = read_stream_index(stream); result != 0)
            return stop(stream, log_stream_strerror(result));
    }
    return stream->version < kFirstIndexedVersion ? next_block(stream, record)
                                                  : next_indexed(stream, record);
}

} // namespace

extern "C" {

LOGBASE_API int log_stream_open(int fd, log_stream **out) {
    if (out == nullptr) return LOG_STREAM_ERR_ARG;
    *out = nullptr;
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        LB_REPORT("Invalid parameter \n\n");
        return LOG_STREAM_ERR_ARG;
    }
    auto *s = static_cast<log_stream *>(std::calloc(1, sizeof(log_stream)));
    size_t window_size = S_ISREG(st.st_mode) ? kWindowSize : kStreamWindowSize;
    char *window = static_cast<char *>(std::malloc(window_size + 1));
    if (s == nullptr || window == nullptr) {
        std::free(s);
        std::free(window);
        LB_REPORT("malloc log stream failed\n\n");
        return LOG_STREAM_ERR_MEMORY;
    }
    s->api = __func__;
    s->fd = fd;
    s->window = window;
    s->window_size = window_size;
    s->positional = S_ISREG(st.st_mode);
    s->file_size = s->positional ? static_cast<uint64_t>(st.st_size) : 0;
    if (int result = read_head(s); result != 0) {
        log_stream_close(s);
        return result;
    }
    *out = s;
    return 0;
}

LOGBASE_API int log_stream_next(log_stream *stream, log_record *record) {
    if (stream == nullptr || record == nullptr) return LOG_STREAM_INVALID;
    return next_record(stream, record, __func__);
}

LOGBASE_API int log_stream_skip(log_stream *stream, log_record *record) {
    if (stream == nullptr || record == nullptr) return LOG_STREAM_INVALID;
    stream->skipping = stream->positional;
    const int result = next_record(stream, record, __func__);
    stream->skipping = false;
    return result;
}

LOGBASE_API int log_stream_seek(log_stream *stream, unsigned int seq) {
    if (stream == nullptr || !stream->positional) return -1;
    if (stream->zeroed != nullptr) {
        *stream->zeroed = stream->zeroed_byte;
        stream->zeroed = nullptr;
    }
    stream->next_seq = seq;
    stream->ended = false;
    return 0;
}

LOGBASE_API const char *log_stream_strerror(int code) {
    switch (code) {
    case 0:
        return "";
    case LOG_STREAM_ERR_ARG:
        return "no place for the reader, or not an open descriptor";
    case LOG_STREAM_ERR_NOT_LOG:
        return "not a log file (no version text at its start)";
    case LOG_STREAM_ERR_HEADER:
        return "the log header or index is cut short or unreadable";
    case LOG_STREAM_ERR_MEMORY:
        return "out of memory, or an index too large to hold for a stream";
    default:
        return "not a result of log_stream_open";
    }
}

LOGBASE_API const char *log_stream_error(const log_stream *stream) {
    return stream == nullptr || stream->reason == nullptr ? "" : stream->reason;
}

LOGBASE_API const log_header *log_stream_header(const log_stream *stream) {
    return stream == nullptr ? nullptr : &stream->header;
}

LOGBASE_API int log_stream_version(const log_stream *stream) {
    return stream == nullptr ? -1 : stream->version;
}

LOGBASE_API void log_stream_close(log_stream *stream) {
    if (stream == nullptr) return;
    if (stream->lines_left_out > 0)
        LB_REPORT_AT((lb::report_site{__FILE_NAME__, __LINE__, __func__}),
                     "%u more diagnostic lines about this file were left out\n",
                     stream->lines_left_out);
    std::free(stream->index);
    std::free(stream->window);
    std::free(stream);
}

} // extern "C"
