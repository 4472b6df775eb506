/*
 * logbase.h - the interface of liblogbase.
 *
 * Where to start:
 *   - to read every record of a log file, of any version, from a file or a
 *     pipe: log_stream_open, log_stream_next (the first section below);
 *   - to take a record's line apart into its items: parse_disk_log_entry,
 *     then parse_get_value; to turn lines into CSV: convert_csv_log;
 *   - to fetch one record by sequence number or file offset:
 *     get_log_file_header_global, then get_log_data_global;
 *   - to build a report's filter string: get_report_fltrstr; its whole
 *     settings record: get_report_settings_r.
 *
 * Plain C (C99 and C++). One section per family; every exported function and
 * data object carries LOGBASE_API. Results: 0 (or a length, count, sequence
 * number or version) on success, -1 or a small negative code on failure,
 * NULL for a failed or absent pointer result. Memory handed to the caller
 * comes from malloc and is released with free unless a function says
 * otherwise.
 */
#ifndef LOGBASE_H
#define LOGBASE_H

#include <stddef.h>
#include <stdint.h>

#include <obstack.h> /* the hash table's memory pool */

#if defined(LOGBASE_BUILDING)
#define LOGBASE_API __attribute__((visibility("default")))
#else
#define LOGBASE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ===== Log file layout =================================================== */

/* Versions 0 and 1 are fixed blocks, each block one record; from version 2
 * on a file holds a header, an index and records of any length up to
 * LOG_MAX_RECORD_LENGTH. */
#define LOG_BLOCK_SIZE_V0 1024
#define LOG_BLOCK_SIZE_V1 4096
#define LOG_FIRST_INDEXED_VERSION 2
#define LOG_MAX_RECORD_LENGTH 4096 /* bytes of any record, block or indexed */

/* Header of an indexed log file (version 2 and higher): the first 24 bytes of
 * the file, little-endian, used in memory exactly as they lie on disk. For the
 * block versions 0 and 1, get_log_file_header_global synthesizes one. */
typedef struct log_header {
    char verstr[8];          /* 'v', three decimal digits, four more characters */
    uint32_t reserved;       /* not interpreted */
    uint32_t record_count;   /* valid sequence numbers: 0 .. record_count - 1 */
    uint32_t file_length;    /* only meaningful in a synthesized header */
    uint32_t index_capacity; /* index slots following the header */
} log_header;

/* One index slot: where record n starts, counted from the content offset
 * (24 + 8 * index_capacity), and its length (at most LOG_MAX_RECORD_LENGTH). */
typedef struct log_index_entry {
    uint32_t offset;
    uint32_t length;
} log_index_entry;

/* The index: an array of index_capacity entries read from file offset 24. */
typedef log_index_entry log_index;

/* ===== Sequential log reader ============================================= */

/* Reads every record of a log file of any version front to back: the header
 * at open, the index once the first record needs it, the content in large
 * reads. The descriptor may be a regular file (read with pread from offset 0,
 * so its position is left alone) or a pipe or other stream (read with read;
 * its first byte is taken as the first byte of the file). The descriptor
 * stays the caller's: it is never closed. A record that cannot be read
 * writes the diagnostic lines the record calls write for it. One stream is
 * for one thread at a time. */
typedef struct log_stream log_stream;

/* One record, valid until the next log_stream_next or log_stream_close. */
typedef struct log_record {
    const char *data;         /* the record's bytes, then one zero byte */
    unsigned int length;      /* as get_log_data_global: a block record is whole */
    unsigned int text_length; /* the line: a block record's bytes before its first
                                 zero byte (blocks are zero-padded), else length */
    unsigned int offset;      /* absolute file offset (its low 32 bits) */
    unsigned int seq;         /* sequence number (block number in versions 0 and 1) */
} log_record;

/* Results of log_stream_open. log_stream_strerror gives each in words. */
#define LOG_STREAM_ERR_ARG (-1)     /* NULL out, or fd negative or not open */
#define LOG_STREAM_ERR_NOT_LOG (-2) /* fewer than 8 bytes, or no version text */
#define LOG_STREAM_ERR_HEADER (-3)  /* header or index cut short or unreadable */
#define LOG_STREAM_ERR_MEMORY (-4)  /* no memory for the reader or its index */

/* Opens a reader on `fd` (0 included) and reads the version and the header,
 * not a byte more, so a caller that wants only the header costs no more.
 * 0 and *out set on success; otherwise *out is NULL (when out is not) and
 * the result is a LOG_STREAM_ERR_* code. For a block version on a stream the
 * synthesized header's record_count and file_length are 0. The header's
 * claims are checked here: on a regular file an index longer than the file
 * is LOG_STREAM_ERR_HEADER, on a stream an index of more than 6,291,456
 * entries (48 MiB, more than a stream holds) LOG_STREAM_ERR_MEMORY. A
 * stream's index is read by the first log_stream_next; when it is cut short
 * or finds no memory, that call stops at record 0 (LOG_STREAM_STOPPED) and
 * log_stream_error gives the log_stream_strerror words of the code with
 * which a regular file's open fails so. */
LOGBASE_API int log_stream_open(int fd, log_stream **out);
/* A static text for a result of log_stream_open: the words of each
 * LOG_STREAM_ERR_* code, "" for 0 (nothing failed) and "not a result of
 * log_stream_open" for any other value. Not to be confused with
 * log_stream_error below, the reason of a stream's last record failure. */
LOGBASE_API const char *log_stream_strerror(int code);

/* Results of log_stream_next. LOG_STREAM_STOPPED: the records from
 * record->seq on cannot be read (a read error, more records claimed than
 * index slots, or a stream's index that cannot be read or held);
 * LOG_STREAM_CUT_SHORT: they all lie past the end of the file (one
 * diagnostic line says which). Later calls return LOG_STREAM_END. */
#define LOG_STREAM_RECORD 1    /* *record holds the next record */
#define LOG_STREAM_END 0       /* no more records; so is every later call */
#define LOG_STREAM_FAILED (-1) /* record->seq cannot be read; the next call goes on */
#define LOG_STREAM_STOPPED (-2)
#define LOG_STREAM_INVALID (-3) /* a NULL argument */
#define LOG_STREAM_CUT_SHORT (-4)

/* The next record in sequence order; one of the LOG_STREAM_ results. On a
 * stream nothing is read twice: an indexed record that starts before the
 * record served before it fails (LOG_STREAM_FAILED, with a diagnostic line). */
LOGBASE_API int log_stream_next(log_stream *stream, log_record *record);
/* Regular files only: the next call of log_stream_next reads record `seq`
 * (any record, in any order). 0, or -1 on a stream. */
LOGBASE_API int log_stream_seek(log_stream *stream, unsigned int seq);
/* The next record as log_stream_next gives it (the same result, number,
 * offset, length and diagnostic lines, these naming log_stream_skip), but on
 * a regular file without reading its bytes: record->data is NULL and
 * text_length is length. What only reading them finds (a read error, a file
 * cut short since it was opened) is left to the stream that reads them; a
 * stream of its own on the same descriptor, moved there by log_stream_seek,
 * can, on another thread. Any other descriptor reads the record as
 * log_stream_next does. */
LOGBASE_API int log_stream_skip(log_stream *stream, log_record *record);
/* Why the stream's last record failed or its reading stopped, in words (the
 * diagnostic lines give the details): a static text for the last
 * LOG_STREAM_FAILED or LOG_STREAM_STOPPED result; "" when nothing failed or a
 * record has been read since. Failures to open are log_stream_strerror's. */
LOGBASE_API const char *log_stream_error(const log_stream *stream);
/* The file's header (synthesized for versions 0 and 1) and version. */
LOGBASE_API const log_header *log_stream_header(const log_stream *stream);
LOGBASE_API int log_stream_version(const log_stream *stream);
/* Releases the reader (NULL is ignored); the descriptor stays open. */
LOGBASE_API void log_stream_close(log_stream *stream);

/* ===== Diagnostic log ==================================================== */

/* Appends one time-stamped line to "/var/log/dlog_logd" when level > 0; the
 * file is rotated to "/var/log/dlog_logd_old" at 10 MiB. Never fails visibly. */
LOGBASE_API void rt_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* Where the library's diagnostic lines go, for the whole process: a
 * descriptor of the caller's (each line one write; never closed, rotated or
 * locked), LOG_DIAG_OFF (nowhere) or LOG_DIAG_FILE (the fixed file, the
 * default). 0, or -1 for any other value. Safe from any thread. */
#define LOG_DIAG_OFF (-1)
#define LOG_DIAG_FILE (-2)
LOGBASE_API int rt_log_set_destination(int fd);

/* ===== Binary log files: one record at a time =========================== */

/* Version of a file or record from its first bytes: 0 for 'd', the three
 * characters after 'v' read as decimal digits, else LOG_VERSION_ERR_TEXT. */
#define LOG_VERSION_ERR_TEXT (-1) /* not a log file's version text, or NULL */
LOGBASE_API int parse_log_version(const char *verstr);
/* Position of the entry whose offset is rel_offset among the first count
 * entries (binary search), or a LOG_SEQ_ERR_* code. */
#define LOG_SEQ_ERR_ARG (-1)    /* index is NULL or rel_offset negative */
#define LOG_SEQ_ERR_ABSENT (-2) /* no entry has that offset */
LOGBASE_API int get_log_seq(const log_index_entry *index, unsigned int count, int rel_offset);
/* Length / sequence number of the record at absolute file offset `offset`
 * (0 means the first record); -1 after a diagnostic line. fd is not used.
 * Both pointers must be valid. */
LOGBASE_API int get_log_len(int fd, int offset, const log_header *log_header,
                            const log_index_entry *log_index);
LOGBASE_API int get_log_index(int fd, int offset, const log_header *log_header,
                              const log_index_entry *log_index);
/* Start of the content region judged from the first `avail` bytes of a file:
 * 0 below version 2, else 24 + 8 * index_capacity, or a LOG_CONTENT_ERR_* code. */
#define LOG_CONTENT_ERR_VERSTR (-1) /* fewer than the 8 bytes of the version text */
#define LOG_CONTENT_ERR_HEADER (-2) /* fewer than the 24 bytes of the header */
#define LOG_CONTENT_ERR_INDEX (-3)  /* the index is not whole */
LOGBASE_API int get_log_content_offset(const log_header *log_header, int avail);

/* Indexed files (version 2 and higher); every failure writes one diagnostic
 * line and returns -1. Descriptors must be > 0; each call seeks first. */
LOGBASE_API int get_log_file_header(int fd, log_header *header);
LOGBASE_API int get_file_index(int fd, log_index_entry *entry, int seq, const log_header *header);
LOGBASE_API int get_all_file_index(int fd, log_index_entry *index, const log_header *header);
/* Reads record `seq` into buf (>= LOG_MAX_RECORD_LENGTH bytes); hands out its length and its
 * absolute file offset. */
LOGBASE_API int get_log_data(int fd, int seq, void *buf, const log_header *header,
                             unsigned int *len_out, unsigned int *off_out);
/* Version of any log file as parse_log_version reads it, or a
 * LOG_VERSION_ERR_* code; restores the file position. */
#define LOG_VERSION_ERR_SEEK (-2)    /* the seek to the start failed */
#define LOG_VERSION_ERR_READ (-3)    /* fewer than 8 bytes read */
#define LOG_VERSION_ERR_RESTORE (-4) /* the position could not be restored */
LOGBASE_API int get_log_version(int fd);
/* Version of the file at `path` as parse_log_version reads it, or a
 * LOG_PATH_ERR_* code. */
#define LOG_PATH_ERR_OPEN (-1) /* the file cannot be opened */
#define LOG_PATH_ERR_READ (-2) /* fewer than 8 bytes read */
LOGBASE_API int get_log_version_by_path(const char *path);
/* Record at absolute offset `offset` of a file of version 0, 1 or 2: the
 * bytes read (0 when the record itself was not read), or a LOG_LINE_ERR_*
 * code. */
#define LOG_LINE_ERR_VERSION (-1) /* version other than 0, 1 and 2 */
#define LOG_LINE_ERR_BLOCK0 (-2)  /* version-0 block not read whole */
#define LOG_LINE_ERR_BLOCK1 (-3)  /* version-1 block not read whole */
#define LOG_LINE_ERR_HEADER (-4)  /* header not read */
#define LOG_LINE_ERR_MEMORY (-5)  /* no memory for the index */
#define LOG_LINE_ERR_INDEX (-6)   /* index not read */
#define LOG_LINE_ERR_OFFSET (-7)  /* no record starts at `offset` */
LOGBASE_API int get_log_line(int fd, int version, int offset, void *buf);

/* Any version: read the header once (block versions get a synthesized one
 * with version text "v000xxxx"/"v001xxxx" and index_capacity 0), then the
 * other calls with it. All return -1 on failure. */
LOGBASE_API int get_log_file_header_global(int fd, log_header *header);
LOGBASE_API int get_log_data_global(int fd, int seq, void *buf, const log_header *header,
                                    unsigned int *len_out, unsigned int *off_out);
/* `log_header` must be valid. */
LOGBASE_API int get_log_len_global(int fd, int offset, const log_header *log_header);
LOGBASE_API int get_log_index_global(int fd, int offset, const log_header *header);

/* ===== Log file names and tags =========================================== */

/* Size of the file at `path` (links followed), or -1. */
LOGBASE_API int64_t file_size(const char *path);
/* 1 when `name` is a log file name ("alog.log", "tlog.12.log"); the type
 * letter and number (0 for the current file) go to the non-NULL outputs. */
LOGBASE_API int match_logfname(const char *name, char *type_out, unsigned int *num_out);
/* Log categories: the kinds of log, each with its file-name letter and its
 * descriptor table. */
enum log_category {
    LOG_CAT_NONE = 0,    /* not a log of any category */
    LOG_CAT_EVENT = 1,   /* 'e' */
    LOG_CAT_TRAFFIC = 2, /* 't' */
    LOG_CAT_ATTACK = 3   /* 'a' */
};
/* Log category from the first letter; LOG_CAT_NONE for other letters or for
 * names shorter than 8 characters. */
LOGBASE_API int get_log_type_by_filename(const char *name);
/* Replaces in place the value after the first occurrence of `tag` in `line`
 * (capacity `size`, terminating zero at `end`); a LOG_TAG_* result. */
#define LOG_TAG_REPLACED 0   /* *new_end is the new terminating zero */
#define LOG_TAG_UNCHANGED 1  /* the value was already equal */
#define LOG_TAG_ABSENT 2     /* no such tag in the line */
#define LOG_TAG_ERR_FIT (-1) /* the line cannot take the change */
LOGBASE_API int log_line_replace_tag(char *line, int size, char *end, const char *tag, int tag_len,
                                     const char *value, int value_len, char **new_end);

/* ===== Entry descriptor tables =========================================== */

/* One row of a category's descriptor table. next_row[v] is the row of the key
 * that follows this key in a line of layout version v (0..30); 0 marks the
 * line's last key (row 0, "date", never follows another key). Rows without a
 * key have a NULL name. Each table has ENTRY_DESC_ROWS rows. */
#define ENTRY_DESC_ROWS 128
typedef struct entry_desc {
    const char *name;
    int32_t name_len;
    int32_t quoted; /* 1: the value is written between double quotes */
    int32_t next_row[31];
} entry_desc;

/* Row 0 of the descriptor table of a category (LOG_CAT_EVENT, LOG_CAT_TRAFFIC,
 * LOG_CAT_ATTACK); NULL for any other code. The tables are complete from load
 * time and only read by the library, so any thread may call this at any time. */
LOGBASE_API entry_desc *_get_ed_by_cat(int cat);
/* Copies layout in_ver - 1 into layout in_ver in every row of `table`. An
 * in_ver outside 1..30 stops the process with an assertion. Meant for a
 * host's own copy of a table: the parser reads layouts 0..11 of the built-in
 * tables as they load. */
LOGBASE_API void dup_prev_ed(entry_desc *table, int in_ver);
/* Reads the version tag at the head of a line of len bytes. No tag (the line
 * does not begin with "v0"): prefix_len 0 and version 0. Tag v001..v013:
 * prefix_len 8 and the tag's layout version (0..11). Any other "v0" tag
 * leaves both outputs unchanged. Returns 0, or -1 for a NULL argument or a
 * line shorter than 4 bytes (outputs unchanged). */
LOGBASE_API int scan_ver(const char *line, int len, int *prefix_len, int *version);

/* ===== Log line parser and CSV =========================================== */

/* One parsed item: the key (the descriptor's name, not a pointer into the
 * line) and the value, pointing into the caller's line (for a quoted key the
 * text between the quotes). */
typedef struct kv_entry {
    const char *key;
    int32_t key_len;
    const char *val;
    int32_t val_len;
} kv_entry;

/* The value part of a kv_entry; same layout as its last two fields. */
typedef struct kv_value {
    const char *val;
    int32_t val_len;
} kv_value;

/* Parse result: slot i holds the line's i-th item; only the first `count`
 * slots are meaningful. A line has at most KV_MAX_ITEMS items. */
#define KV_MAX_ITEMS 128
typedef struct kv_entries {
    kv_entry entries[KV_MAX_ITEMS];
    int32_t count;
} kv_entries;

/* Parser context of one line. csv: write ',' over each separating space.
 * last_pos: position of the line's last item, set when its end is found. */
typedef struct kv_parse_ctx {
    const entry_desc *table;
    int32_t version;
    int32_t csv;
    int32_t last_pos;
} kv_parse_ctx;

/* Result codes of the parser. */
#define KV_ERR_CATEGORY (-1) /* unrecognised category; also a NULL argument */
#define KV_ERR_EMPTY (-2)    /* nothing left after the version tag */
#define KV_ERR_KEY (-3)      /* the expected key is not at this point */
#define KV_ERR_END (-4)      /* no valid end of the item or line in the buffer */
#define KV_ERR_EQUALS (-5)   /* no '=' right after the key */
#define KV_ERR_QUOTE (-6)    /* a quoted key's value does not open with '"' */

/* Parses the item of table row `row` at `item` and every item after it, with
 * `len` bytes from `item` to the end of the buffer; depth is KV_MAX_ITEMS for
 * a line's first item (slot KV_MAX_ITEMS - depth receives the item). Returns the bytes from
 * `item` through the line's final newline, or a negative code. The byte just
 * past `len` must be readable: it ends the line when it is a newline. In
 * comma mode the separating spaces are overwritten only when the whole line
 * parses. The cost grows linearly with len whatever the values hold. */
LOGBASE_API int _parse_log_kv_pair(int row, int depth, char *item, int len, kv_entries *entries,
                                   kv_parse_ctx *ctx);
/* Parses one log line (with its optional version tag) of a category into
 * `entries`; returns the bytes consumed including the tag, or a KV_ERR_*
 * code (count is then unchanged). A "v0" tag of no known version is not
 * skipped: such a line gives KV_ERR_KEY. */
LOGBASE_API int parse_disk_log_entry(int cat, const char *line, int len, kv_entries *entries);
/* The value of the first item whose key is exactly `name`; NULL if none. */
LOGBASE_API const kv_value *parse_get_value(const kv_entries *entries, const char *name);
/* A malloc'd copy of the NUL-terminated line (len bytes at most) in which the
 * value of the first "policy=" is put between double quotes when it is not
 * quoted and another key follows it; otherwise an unchanged copy. The copy
 * has len + 4 bytes. NULL when out of memory. */
LOGBASE_API char *format_policy(const char *line, int len);
/* Diagnostic loader: reads the built-in sample file of a category whole into
 * a malloc'd buffer, reporting progress on standard output; sets *size and
 * *content_offset. NULL on failure. */
LOGBASE_API char *read_log_file(int cat, int *size, int *content_offset);
/* Turns every item separator of the log lines in buf (len bytes, each line
 * behind the same version tag as the first) into ',' in place, and the
 * timezone, ml_svm_accuracy, ml_svm_log_match_types and ml_allow_method items
 * into whole double-quoted fields. Returns 0, KV_ERR_CATEGORY, or the code of
 * the first line that does not parse (earlier lines are converted, it and
 * later ones are not). */
LOGBASE_API int convert_csv_log(int cat, char *buf, int len);
/* Moves the opening quote of the first timezone, ml_svm_accuracy,
 * ml_svm_log_match_types and ml_allow_method value of a line in front of its
 * key. A NULL line is ignored. */
LOGBASE_API void convert_csv_log_special_character(char *line, int len);

/* The vector instructions the parser's separator scan and the filters' line
 * test use: plain C++ (LOGBASE_SIMD_PORTABLE), SSE2, AVX2, or AVX-512BW.
 * Results never depend on the level, only speed. The level starts as the
 * environment variable LOGBASE_SIMD names it (portable, sse2, avx2, avx512;
 * read once, on first use), or else as the best the processor has. */
#define LOGBASE_SIMD_PORTABLE 0
#define LOGBASE_SIMD_SSE2 1
#define LOGBASE_SIMD_AVX2 2
#define LOGBASE_SIMD_AVX512 3
/* The level in effect. */
LOGBASE_API int logbase_simd_level(void);
/* Sets the level for every thread, or the best below it that the processor
 * has; returns the level now in effect, or -1 (nothing changed) for a level
 * outside LOGBASE_SIMD_PORTABLE..LOGBASE_SIMD_AVX512. A call that runs
 * while the level changes may use either level, with the same results. */
LOGBASE_API int logbase_set_simd_level(int level);

/* ===== String hash and hash table ======================================== */

/* lookup2-style hash in 64-bit arithmetic over `len` bytes at `key`, seeded
 * with `init`. `hash` is the same function under a second name. */
LOGBASE_API uint64_t lum_hash(const void *key, uint64_t len, uint64_t init);
LOGBASE_API uint64_t hash(const void *key, uint64_t len, uint64_t init);

typedef struct hash_node {
    uint32_t hval;          /* hash given at insertion */
    int64_t value;          /* caller's value, opaque to the table */
    const char *key;        /* the table's copy (copy_key) or the caller's key */
    int32_t key_len;        /* bytes, without any terminator */
    struct hash_node *next; /* next node of the same bucket */
} hash_node;

/* Chained table with a fixed bucket count. Pool mode (hash_table_init) carves
 * nodes and key copies from `pool` and drops them all at once; delete mode
 * (hash_table_with_delete_init) allocates each node on its own so that it can
 * be removed, handing its value's low 32 bits to `release`. */
typedef struct hash_table {
    hash_node **buckets;
    struct obstack pool;
    int32_t nbuckets;
    int32_t count;
    int (*cmp)(const void *key, int key_len, const void *node_key, int node_key_len);
    void (*release)(int32_t value);
    int32_t copy_key;
    int32_t delete_mode;
} hash_table;

/* 1 when the table is ready, 0 for a NULL table, a bucket count below 1 or
 * no bucket array. `unused` is ignored. */
LOGBASE_API int hash_table_init(hash_table *table, int nbuckets, int unused);
LOGBASE_API int hash_table_with_delete_init(hash_table *table, int nbuckets, int copy_key,
                                            int unused, void (*release)(int32_t value));
/* Adds a node in front of its bucket (an equal key is not replaced); NULL on
 * failure. The text form stores a NUL after a copied key, the binary form not;
 * `binary` selects between them. */
LOGBASE_API hash_node *hash_table_add(hash_table *table, uint32_t hval, const void *key,
                                      int32_t key_len, int64_t value);
LOGBASE_API hash_node *hash_table_add_binary(hash_table *table, uint32_t hval, const void *key,
                                             int32_t key_len, int64_t value);
LOGBASE_API hash_node *impl_hash_table_add(hash_table *table, uint32_t hval, const void *key,
                                           int32_t key_len, int64_t value, int binary);
/* The most recently added node with this hash and key, or NULL. */
LOGBASE_API hash_node *hash_table_find(hash_table *table, uint32_t hval, const void *key,
                                       int32_t key_len);
/* Delete mode only: removes the most recent matching node. 0 whether or not
 * one matched; -1 in pool mode or on an empty table. */
LOGBASE_API int hash_table_delete(hash_table *table, uint32_t hval, const void *key,
                                  int32_t key_len);
/* Releases everything and zeroes the record; NULL is ignored. */
LOGBASE_API void hash_table_free(hash_table *table);

/* ===== Tokenizers and regular expressions ================================ */

/* Next token of `text` from byte offset *pos up to the delimiter string
 * `delim` (matched whole), as a malloc'd copy; *pos moves past the delimiter.
 * NULL at the end of the text or for an empty `delim`. */
LOGBASE_API char *astrtok(const char *text, const char *delim, int *pos);
/* As astrtok with a NULL-terminated list of delimiter strings; at one offset
 * the first delimiter of the list that matches wins. */
LOGBASE_API char *astrtok_m(const char *text, const char **delims, int *pos);
/* strtok_r over the character set `delims` that keeps double-quoted stretches
 * together; splits `text` in place (NULL to continue from *save). */
LOGBASE_API char *quoted_strtok_r(char *text, const char *delims, char **save);
/* Reads the clause <key><op>'<value>' at the first occurrence of `key` in
 * `filter`: *found = that occurrence, `op` (3 bytes) the operator, `value`
 * the value cut to value_size - 1 characters. 0 when both were read, else -1. */
LOGBASE_API int get_op_and_val(const char *filter, const char *key, char **found, char *op,
                               char *value, int value_size);
/* The quoted, comma/blank separated list of `clause` (cut at 511 characters)
 * as a NULL-terminated array (release with the host's arr_free), or NULL.
 * With `with_key` the key before the operator goes to key_out (128 bytes,
 * cut to fit), "-"-prefixed unless `op` is "==". */
LOGBASE_API char **parse2array(const char *clause, const char *op, int with_key, char *key_out);
/* Writes the list of `clause` into `out` as a boolean filter expression
 * ("user=a OR user=b", "-user=a -user=b", "a OR b", "a b"); returns `out`,
 * or NULL when clause, op or out is NULL. */
LOGBASE_API char *fltrstr_to_boolean(const char *clause, const char *op, char *out, int out_size,
                                     int with_key);
/* Results of the regular-expression wrappers; a bad pattern gives its
 * compile error code negated. */
#define REGEX_MATCHED 1  /* matched (regex_replace: replaced) */
#define REGEX_NO_MATCH 0 /* no match (regex_replace: also a NULL argument) */
/* POSIX extended match: REGEX_MATCHED (whole match copied to match_out when
 * not NULL), REGEX_NO_MATCH, or a negated compile error code. */
LOGBASE_API int regex_match(const char *pattern, const char *text, char *match_out);
/* As regex_match with `count` slots: group_out[k] receives group k (0 = the
 * whole match), empty when the group took no part. */
LOGBASE_API int regex_match_multi(const char *pattern, const char *text, char **group_out,
                                  int count);
/* Replaces the first match (group 1 when the pattern opens an unescaped group
 * first) by `replacement` into `out`; results as regex_match. */
LOGBASE_API int regex_replace(const char *pattern, const char *text, char *out, int out_size,
                              const char *replacement);

/* ===== Service names ===================================================== */

/* Protocol codes of the service lookups. */
enum svc_proto {
    SVC_PROTO_UDP = 0,
    SVC_PROTO_TCP = 1,
    SVC_PROTO_BOTH = 3 /* the port has one name for both protocols */
};

/* Name of a well-known port (1 to 1023; `port_text` is read when `port` is out
 * of range) for TCP (proto >= SVC_PROTO_TCP) or UDP (below), or NULL. */
LOGBASE_API const char *fn_getservbyport_3(int proto, int port, const char *port_text);
/* Lowest port carrying `name` (any case), its protocol code in *proto_out;
 * -1 when the name is unknown. */
LOGBASE_API int fn_getportbyname_3(int *proto_out, const char *name);
/* The predefined selections "custom", "basic", "all", "none". */
LOGBASE_API extern const char *qspredef_names[4];
/* qspredef_names[index], or NULL when index > 3. */
LOGBASE_API const char *qspredef_name(unsigned int index);
/* Index of `name` in qspredef_names (any case), or -1. */
LOGBASE_API int qspredef_val(const char *name);
/* `bytes` in mebibytes, rounded to nearest, halves up. */
LOGBASE_API unsigned long roundMB(unsigned long bytes);

/* ===== Report filter strings ============================================= */

/* Writes the flat filter string of the report definition record's filter text
 * into `out` (cut to out_size). Leaves `out` untouched when `report` is NULL
 * or its filter text is empty. Always returns 0. */
LOGBASE_API int get_report_fltrstr(const void *report, char *out, size_t out_size);
/* Appends the address term <key>=<value> to `buf` (buf_size bytes), joined by
 * " OR " for op "==", negated with "-" for op "!=". */
LOGBASE_API void add_src_or_dst_filter(char *buf, int buf_size, const char *op, const char *key,
                                       const char *value);
/* The first IPv4 address of host `name` as a malloc'd dotted text, or NULL. */
LOGBASE_API char *resolve_IP(const char *name);

/* A clause of a report filter text that get_report_fltrstr does not read as
 * written: its byte offset and length in the text, and why, in words. */
typedef struct rpt_filter_fault {
    int position;
    int length;
    char reason[192];
} rpt_filter_fault;
/* Checks a NUL-terminated report filter text clause by clause against what
 * get_report_fltrstr reads of it, with the builder's own clause reader: an
 * unknown key, an operator without a meaning for its key, an unquoted value
 * where quotes are needed, a second clause of a key (only the first is read),
 * a level or day the builder does not know, bytes it skips, anything past the
 * first 1023 bytes, and a list item that log_filter_compile would not read
 * back as one value of its key=item term. Clauses are separated by blanks; a leading "(or" and a
 * final ")" belong to no clause. Stores the first max_faults faults, in text
 * order, into `faults` (NULL is allowed when max_faults is 0) and returns how
 * many there are, 0 when every clause is read as written; -1 for a NULL text
 * or when memory runs out.
 * Host names are not resolved. */
LOGBASE_API int check_report_filter_text(const char *text, rpt_filter_fault *faults,
                                         int max_faults);

/* ===== Report vocabulary ================================================= */

/* Names of the output formats selected by bits 0 to 4 of `mask` ("html",
 * "pdf", "rtf", "txt", "mht"), joined by `separator` when it is one
 * character long, else by ",". The result lives in a static buffer that the
 * next call overwrites. */
LOGBASE_API const char *rptfmttype_names(uint32_t mask, const char *separator);
/* Long ("rptel1" ...) and two-letter ("re" ...) names of report element
 * types 0 to 7; NULL above 7. */
LOGBASE_API const char *rptelemtype_name(uint32_t type);
LOGBASE_API const char *rptelemtype_nm(uint32_t type);
/* Element type whose long name equals `name`; -1 when none does. */
LOGBASE_API int rptelemtype_val(const char *name);
/* Report period types. rptpertype_name names each after its enumerator
 * ("today", "last-n-hours", ...) but for the custom period, which has none. */
enum rpt_period_type {
    RPT_PERIOD_TODAY = 0,
    RPT_PERIOD_YESTERDAY = 1,
    RPT_PERIOD_LAST_N_HOURS = 2,
    RPT_PERIOD_THIS_WEEK = 3,
    RPT_PERIOD_LAST_WEEK = 4,
    RPT_PERIOD_LAST_7_DAYS = 5,
    RPT_PERIOD_LAST_N_DAYS = 6,
    RPT_PERIOD_LAST_2_WEEKS = 7,
    RPT_PERIOD_LAST_14_DAYS = 8,
    RPT_PERIOD_THIS_MONTH = 9,
    RPT_PERIOD_LAST_MONTH = 10,
    RPT_PERIOD_LAST_30_DAYS = 11,
    RPT_PERIOD_LAST_N_WEEKS = 12,
    RPT_PERIOD_THIS_QUARTER = 13,
    RPT_PERIOD_LAST_QUARTER = 14,
    RPT_PERIOD_THIS_YEAR = 15,
    RPT_PERIOD_CUSTOM = 16 /* explicit start and end */
};
/* Name of a report period type; NULL from RPT_PERIOD_CUSTOM on. */
LOGBASE_API const char *rptpertype_name(uint32_t type);
/* Period type named `name`; RPT_PERIOD_CUSTOM when none is. */
LOGBASE_API uint32_t rptpertype_val(const char *name);
/* "FTP", "SFTP" or "SCP" for upload server kinds 0 to 2; NULL above 2. */
LOGBASE_API const char *rptoutsvr_name(uint16_t kind);
/* Stores the query ids of the charts a report definition selects, set by
 * set in row order, into `ids` (room for 84 is enough) and their number
 * into `count`. Does nothing when any argument is NULL. */
LOGBASE_API void get_qryset(const void *report, uint32_t *ids, uint32_t *count);
/* Number of buckets of a time scale (1 hours: 24, 2 weekdays: 7, 3 days of
 * month: 31); `fallback` for any other scale. */
LOGBASE_API int32_t timescale_topn(int32_t timescale, int32_t fallback);
/* 1 when `name` is a time-bucket chart variable ("ihour", "iwday",
 * "imonth", "imday", "iweek", "idate"), else 0. */
LOGBASE_API int is_var_by_time(const char *name);

/* ===== Report periods ==================================================== */

/* A time window: epoch seconds, end inclusive; {0, 0} means no window. */
typedef struct rpt_window {
    int64_t begin;
    int64_t end;
} rpt_window;

/* Period block of a report definition record (32 bytes, at byte 1232). */
typedef struct rpt_period {
    uint32_t reserved;
    uint32_t type;    /* an RPT_PERIOD_* type */
    int32_t n;        /* count of "last-n-hours", "last-n-days", "last-n-weeks" */
    int16_t start[5]; /* custom start: year, month 1-12, day, hour, minute */
    int16_t end[5];   /* custom end, same fields */
} rpt_period;

/* Start of the local "hour", "day", "week" (from Sunday), "month",
 * "quarter" or "year" containing `t`, stepped back `n` units, corrected for a
 * daylight-saving change in between. Any other unit starts at 0. */
LOGBASE_API int64_t beg_of(const char *unit, uint32_t n, int64_t t);
/* `span` corrected by one hour when daylight saving is in force at only one
 * of `t - span` and `t`. */
LOGBASE_API int64_t get_time_offset(int64_t t, int64_t span);
/* Refreshes the time zone from the configuration store, then fills `window`
 * with the window of `period` at the current time. Sets *custom to 1 for the
 * custom period (leaves it alone otherwise; it must be valid then). A NULL
 * period or a type above 16 gives {0, 0}. */
LOGBASE_API void rptper_get_begend(const rpt_period *period, rpt_window *window, uint32_t *custom);
/* Empties `window`, then fills it from the period block of the report
 * definition record `report` when that is not NULL. */
LOGBASE_API void get_time_period(const void *report, rpt_window *window, uint32_t *custom);
/* Reads the progress file "<dir>/.status" of a running report: start time,
 * and either the percentage done or the end time; an RPT_PROGRESS_* result.
 * `reserved` is not read. */
#define RPT_PROGRESS_READ 1       /* the file was read */
#define RPT_PROGRESS_NONE 0       /* an argument is NULL or the file cannot be opened */
#define RPT_PROGRESS_WAITING (-1) /* the report is waiting to run */
LOGBASE_API int get_start_end_percent(const char *dir, const void *reserved, uint64_t *start,
                                      uint64_t *end, int32_t *percent);

/* ===== Report settings and names ========================================= */

/* Report flags of a settings record. */
#define RPT_FLAG_HTML 0x10u /* output formats, one per format bit */
#define RPT_FLAG_PDF 0x20u
#define RPT_FLAG_RTF 0x40u
#define RPT_FLAG_TXT 0x80u
#define RPT_FLAG_MHT 0x100u
#define RPT_FLAG_SCOPE_BIT0 0x800u /* bit 0 of definition byte 1268 */
#define RPT_FLAG_OBFUSCATE_USERS 0x2000u
#define RPT_FLAG_TIME_FILTER 0x4000u /* the log filter text bounds the window */

/* The report settings record that get_report_settings_r fills (43088
 * bytes). */
typedef struct rpt_settings {
    uint32_t query_ids[512]; /* chart query ids, as get_qryset orders them */
    uint32_t query_count;
    uint32_t reserved;
    unsigned char strings[16]; /* host string array, made empty */
    uint64_t flags;            /* RPT_FLAG_* and the definition's scope bits */
    const void *output;        /* byte 2544 of the definition record */
    char log_filter[4096];
    char datetime_cond[4096];
    rpt_window window;
    uint32_t time_type; /* 0 to 4 by the window's span: <1h, <1d, <1w, <4w, more */
    uint32_t value1272; /* copies of definition bytes 1272 and 1276 */
    uint32_t value1276;
    unsigned char host_area[32772]; /* left zero; belongs to the host */
    int64_t assembled_at;           /* epoch seconds */
} rpt_settings;

/* Assembles the settings of the report definition record `report` into
 * `settings` (which must be valid). 0, or -1 when `report` is NULL. */
LOGBASE_API int get_report_settings_r(const void *report, rpt_settings *settings);
/* Merges the definition's scope bits, and RPT_FLAG_SCOPE_BIT0, into *flags. */
LOGBASE_API void get_report_scope(const void *report, uint64_t *flags);
/* Adds the output format flags to *flags and points *output (which must be
 * valid) at the definition's output section. */
LOGBASE_API void get_report_output(const void *report, uint64_t *flags, const void **output);
/* Adds RPT_FLAG_OBFUSCATE_USERS when the definition's switch is on. */
LOGBASE_API void get_report_obfuscate_user(const void *report, uint64_t *flags);
/* A free name "<prefix>-YYYY-MM-DD-HHMM" (local time), or that name with a
 * suffix "_001" to "_999", for a new directory under
 * "/var/log/Reports_adom/<domain>". malloc'd; NULL when none is free, or
 * the prefix is NULL or the domain NULL or empty. */
LOGBASE_API char *get_report_name(const char *prefix, const char *domain);
/* Copies the title logo (name at byte RPT_DEF_TITLE_LOGO of `logos`) and the
 * header logo (byte RPT_DEF_HEADER_LOGO; logbase_host.h) from
 * "/migadmin/reportlogo/thumbs" into `dir` as "_rpt_title_logo" and
 * "_rpt_header_logo" with the image's suffix. */
LOGBASE_API void copy_report_logo_files(const char *dir, const void *logos);
/* Copies `src` to `dst` (room for strlen(src) + 1) with each of
 * ` "\!#$%&'()*,/;<>?` replaced by '_'. */
LOGBASE_API void convert_report_file_filename(const char *src, char *dst);
/* Copies `src` into `dst` of `size` bytes with each '/' replaced by '_';
 * empty when `size` is below 2. 0, or -1 when `src` is NULL. */
LOGBASE_API int convert_slash(const char *src, char *dst, size_t size);
/* 0 when `text` holds only A-Z a-z 0-9 _ - (report names), or only printable
 * ASCII (section titles); -1 otherwise or for NULL. */
LOGBASE_API int valid_report_name_string_charset(const char *text);
LOGBASE_API int valid_section_title_string_charset(const char *text);

/* ===== Report scheduling and control ===================================== */

/* The report definition record named `name` from the configuration store,
 * or NULL. The record belongs to the store. */
LOGBASE_API const void *rpt_get(const char *name);
/* Schedule kinds of a report definition record (the word at byte 2512). */
enum rpt_schedule_kind {
    RPT_SCHED_NONE = 0,
    RPT_SCHED_DAILY = 1,
    RPT_SCHED_WEEKDAYS = 2,  /* on the weekdays of the weekday mask */
    RPT_SCHED_MONTH_DAYS = 3 /* on the days of the month-day mask */
};
/* Installs or replaces the crontab entry that runs the report on its
 * schedule, or removes it for RPT_SCHED_NONE. Does nothing for a NULL or empty
 * name or domain, or a report the store does not hold, and nothing either
 * when the scheduled command "/bin/run_sch_rpt add NAME DOMAIN" would be
 * longer than 127 characters (a cut command would run, or remove, another
 * report's entry). */
LOGBASE_API void add_report_to_cron(const char *name, const char *domain);
/* Removes the report's crontab entry (nothing for a command that would be
 * cut, as above). */
LOGBASE_API void delete_report_from_cron(const char *name, const char *domain);
/* Sends SIGINT to the processes named in
 * "/var/log/tmprpts_adom/<first>/<second>/pid". 0 when a signal was sent,
 * -1 otherwise. The two functions behave the same. */
LOGBASE_API int kill_running_report_process_ex(const char *first, const char *second);
LOGBASE_API int kill_running_report_process(const char *first, const char *second);
/* Reads "/drive0/private/<work>_work_done" into the non-NULL out-values.
 * 1 when the file was read, 0 otherwise. */
LOGBASE_API int retrieve_bin_work_data(const char *work, int64_t *first, int64_t *second,
                                       int32_t *total, int32_t *done);
/* Writes "<n> of <total> binary files need to be regenerated." into `text`
 * (cut to `size`; the first character is cleared in every case). 0 while
 * files remain to be regenerated, -1 otherwise. */
LOGBASE_API int retrieve_bin_status(char *text, size_t size);
/* When "/var/log/debug/logrpt_core_flag" exists, raises the core-file size
 * limit to its maximum. 0, or -1 when the limit cannot be read or set. */
LOGBASE_API int set_core_rlimit(void);

/* ===== Language tables =================================================== */

#define LANG_TABLE_ENTRIES 2560
#define LANG_KEY_SIZE 1024
#define LANG_VALUE_SIZE 2048

/* One attribute: NUL-terminated key and value, cut to fit. */
typedef struct attr_entry {
    char key[LANG_KEY_SIZE];
    char value[LANG_VALUE_SIZE];
} attr_entry;

/* Current-language and English tables, sorted by key (case ignored) after
 * their initialiser ran; entries 0 to count - 1 are in use. */
LOGBASE_API extern attr_entry attr_table[LANG_TABLE_ENTRIES];
LOGBASE_API extern int table_len;
LOGBASE_API extern attr_entry en_attr_table[LANG_TABLE_ENTRIES];
LOGBASE_API extern int en_table_len;

/* Replace the table with `section` of "/migadmin[/subdir]/lang/<file>".
 * 0 on success, -1 when the file cannot be opened or has no such section
 * (the table is then empty). */
LOGBASE_API int lang_init(const char *subdir, const char *section, const char *file);
LOGBASE_API int lang_en_init(const char *subdir, const char *section, const char *file);
/* The value of `key` (case ignored), pointing into the table; NULL if absent. */
LOGBASE_API const char *lang_table_get(const char *key);
LOGBASE_API const char *lang_en_table_get(const char *key);
/* Adds the entries of `section` of the file at `path` to `table` (an array of
 * LANG_TABLE_ENTRIES attr_entry) and `*count`, without clearing or sorting.
 * 0 on success, -1 when the file or section is missing. */
LOGBASE_API int read_lang_table(const char *path, const char *section, void *table, int *count);
/* strcasecmp order of two keys (or a key and an entry, whose key comes first). */
LOGBASE_API int attrcmp(const void *a, const void *b);

/* ===== Record filters ==================================================== */

/* A record filter in the flat filter language the report functions write
 * (get_report_fltrstr, the log filter text of get_report_settings_r):
 * key=value terms, "-" negates a term, terms separated by blanks must all
 * hold, " OR " between two terms means either (OR binds tighter than the
 * blank). docs/filters.md has the whole language. A compiled filter is
 * immutable: any number of threads may match with one filter at once. */
typedef struct log_filter log_filter;

/* Why a text was refused: the byte offset of the fault in the text (-1 when
 * the fault is at no byte: NULL text, out of memory) and the reason in words. */
typedef struct log_filter_error {
    int position;
    char reason[96];
} log_filter_error;

/* Compiles a NUL-terminated filter text (at most 1 MiB). An empty or
 * all-blank text gives a filter that matches every record. NULL when the text
 * is NULL or cannot be read, or on allocation failure ("out of memory"), with
 * *error filled when error is not NULL; on success *error holds position -1
 * and an empty reason. Release the filter with log_filter_free. */
LOGBASE_API log_filter *log_filter_compile(const char *text, log_filter_error *error);
/* 1 when the record's items (as parse_disk_log_entry fills them) satisfy the
 * filter, 0 when they do not, -1 for a NULL argument. */
LOGBASE_API int log_filter_match(const log_filter *filter, const kv_entries *items);
/* A quick test on a raw log line of len bytes before it is parsed: 0 only
 * when the line cannot satisfy the filter (a clause of plain key=value terms
 * none of whose values occurs in the line), 1 otherwise. Never 0 for a line
 * whose parsed items match. 0 for a NULL filter, 1 for a NULL line. */
LOGBASE_API int log_filter_may_match(const log_filter *filter, const char *line, size_t len);
/* Releases a compiled filter (NULL is ignored). */
LOGBASE_API void log_filter_free(log_filter *filter);

/* ===== Field indices ===================================================== */

/* The row of each key in its category's descriptor table (_get_ed_by_cat):
 * idx_<tag>_<key>, with the tag atk (attack), tfk (traffic) or evt (event). */
/* Attack table rows */
LOGBASE_API extern int idx_atk_date;
LOGBASE_API extern int idx_atk_time;
LOGBASE_API extern int idx_atk_log_id;
LOGBASE_API extern int idx_atk_msg_id;
LOGBASE_API extern int idx_atk_device_id;
LOGBASE_API extern int idx_atk_vd;
LOGBASE_API extern int idx_atk_timezone;
LOGBASE_API extern int idx_atk_type;
LOGBASE_API extern int idx_atk_subtype;
LOGBASE_API extern int idx_atk_pri;
LOGBASE_API extern int idx_atk_trigger_policy;
LOGBASE_API extern int idx_atk_severity_level;
LOGBASE_API extern int idx_atk_proto;
LOGBASE_API extern int idx_atk_service;
LOGBASE_API extern int idx_atk_action;
LOGBASE_API extern int idx_atk_policy;
LOGBASE_API extern int idx_atk_src;
LOGBASE_API extern int idx_atk_src_port;
LOGBASE_API extern int idx_atk_dst;
LOGBASE_API extern int idx_atk_dst_port;
LOGBASE_API extern int idx_atk_http_method;
LOGBASE_API extern int idx_atk_http_url;
LOGBASE_API extern int idx_atk_http_host;
LOGBASE_API extern int idx_atk_http_agent;
LOGBASE_API extern int idx_atk_http_session_id;
LOGBASE_API extern int idx_atk_msg;
LOGBASE_API extern int idx_atk_signature_subclass;
LOGBASE_API extern int idx_atk_signature_id;
LOGBASE_API extern int idx_atk_srccountry;
LOGBASE_API extern int idx_atk_content_switch_name;
LOGBASE_API extern int idx_atk_server_pool_name;
LOGBASE_API extern int idx_atk_false_positive_mitigation;
LOGBASE_API extern int idx_atk_log_type;
LOGBASE_API extern int idx_atk_event_score;
LOGBASE_API extern int idx_atk_score_message;
LOGBASE_API extern int idx_atk_entry_sequence;
LOGBASE_API extern int idx_atk_user_name;
LOGBASE_API extern int idx_atk_monitor_status;
LOGBASE_API extern int idx_atk_http_refer;
LOGBASE_API extern int idx_atk_http_version;
LOGBASE_API extern int idx_atk_dev_id;
LOGBASE_API extern int idx_atk_threat_weight;
LOGBASE_API extern int idx_atk_history_threat_weight;
LOGBASE_API extern int idx_atk_threat_level;
LOGBASE_API extern int idx_atk_main_type;
LOGBASE_API extern int idx_atk_sub_type;
LOGBASE_API extern int idx_atk_ftp_mode;
LOGBASE_API extern int idx_atk_ftp_cmd;
LOGBASE_API extern int idx_atk_cipher_suite;
LOGBASE_API extern int idx_atk_signature_cve_id;
LOGBASE_API extern int idx_atk_ml_log_hmm_probability;
LOGBASE_API extern int idx_atk_ml_log_sample_prob_mean;
LOGBASE_API extern int idx_atk_ml_log_sample_arglen_mean;
LOGBASE_API extern int idx_atk_ml_log_arglen;
LOGBASE_API extern int idx_atk_ml_svm_log_main_types;
LOGBASE_API extern int idx_atk_ml_svm_log_match_types;
LOGBASE_API extern int idx_atk_ml_svm_accuracy;
LOGBASE_API extern int idx_atk_ml_domain_index;
LOGBASE_API extern int idx_atk_ml_url_dbid;
LOGBASE_API extern int idx_atk_ml_arg_dbid;
LOGBASE_API extern int idx_atk_ml_allow_method;
LOGBASE_API extern int idx_atk_owasp_top10;
LOGBASE_API extern int idx_atk_timezone_dayst;
LOGBASE_API extern int idx_atk_bot_info;
LOGBASE_API extern int idx_atk_backend_service;
LOGBASE_API extern int idx_atk_es;
LOGBASE_API extern int idx_atk_client_level;
LOGBASE_API extern int idx_atk_x509_cert_subject;
LOGBASE_API extern int idx_atk_owasp_api_top10;
/* Traffic table rows */
LOGBASE_API extern int idx_tfk_date;
LOGBASE_API extern int idx_tfk_time;
LOGBASE_API extern int idx_tfk_log_id;
LOGBASE_API extern int idx_tfk_msg_id;
LOGBASE_API extern int idx_tfk_device_id;
LOGBASE_API extern int idx_tfk_vd;
LOGBASE_API extern int idx_tfk_timezone;
LOGBASE_API extern int idx_tfk_type;
LOGBASE_API extern int idx_tfk_subtype;
LOGBASE_API extern int idx_tfk_pri;
LOGBASE_API extern int idx_tfk_proto;
LOGBASE_API extern int idx_tfk_service;
LOGBASE_API extern int idx_tfk_status;
LOGBASE_API extern int idx_tfk_reason;
LOGBASE_API extern int idx_tfk_policy;
LOGBASE_API extern int idx_tfk_src;
LOGBASE_API extern int idx_tfk_src_port;
LOGBASE_API extern int idx_tfk_dst;
LOGBASE_API extern int idx_tfk_dst_port;
LOGBASE_API extern int idx_tfk_http_request_time;
LOGBASE_API extern int idx_tfk_http_response_time;
LOGBASE_API extern int idx_tfk_http_request_bytes;
LOGBASE_API extern int idx_tfk_http_response_bytes;
LOGBASE_API extern int idx_tfk_http_method;
LOGBASE_API extern int idx_tfk_http_url;
LOGBASE_API extern int idx_tfk_http_agent;
LOGBASE_API extern int idx_tfk_http_retcode;
LOGBASE_API extern int idx_tfk_msg;
LOGBASE_API extern int idx_tfk_srccountry;
LOGBASE_API extern int idx_tfk_content_switch_name;
LOGBASE_API extern int idx_tfk_server_pool_name;
LOGBASE_API extern int idx_tfk_http_host;
LOGBASE_API extern int idx_tfk_user_name;
LOGBASE_API extern int idx_tfk_http_refer;
LOGBASE_API extern int idx_tfk_http_version;
LOGBASE_API extern int idx_tfk_dev_id;
LOGBASE_API extern int idx_tfk_cipher_suite;
LOGBASE_API extern int idx_tfk_timezone_dayst;
LOGBASE_API extern int idx_tfk_original_src;
LOGBASE_API extern int idx_tfk_original_srccountry;
LOGBASE_API extern int idx_tfk_x509_cert_subject;
/* Event table rows */
LOGBASE_API extern int idx_evt_date;
LOGBASE_API extern int idx_evt_time;
LOGBASE_API extern int idx_evt_log_id;
LOGBASE_API extern int idx_evt_msg_id;
LOGBASE_API extern int idx_evt_device_id;
LOGBASE_API extern int idx_evt_vd;
LOGBASE_API extern int idx_evt_timezone;
LOGBASE_API extern int idx_evt_type;
LOGBASE_API extern int idx_evt_subtype;
LOGBASE_API extern int idx_evt_pri;
LOGBASE_API extern int idx_evt_trigger_policy;
LOGBASE_API extern int idx_evt_user;
LOGBASE_API extern int idx_evt_ui;
LOGBASE_API extern int idx_evt_action;
LOGBASE_API extern int idx_evt_status;
LOGBASE_API extern int idx_evt_msg;
LOGBASE_API extern int idx_evt_timezone_dayst;

/* ===== End of field indices ============================================== */

#ifdef __cplusplus
}
#endif

#endif /* LOGBASE_H */
