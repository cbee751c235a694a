/* vorb: block-sorting compression of files into archives.
 *
 * The one public header of libvorb; plain C99, usable from C++.
 *
 * Threads: a context (vorb_packer, vorb_unpacker, vorb_writer, vorb_reader)
 * is used by one thread at a time; different contexts are independent and
 * may be used at once from different threads. A context created with
 * threads > 1 runs its own worker threads inside its calls. The bytes a
 * packer or writer produces never depend on the thread count, nor do the
 * bytes an unpacker or reader gives back.
 *
 * Damaged input: every value read from an archive is checked. A damaged or
 * cut archive makes the call return a damage status (see vorb_status); no
 * call crashes, hangs or reads or writes outside its buffers on any input.
 * Bytes of a member already handed to the write callback before the damage
 * was found are not taken back: treat them as bad unless the call returns
 * VORB_OK.
 *
 * Buffers: the library never keeps a pointer to a caller's buffer past the
 * call it was given to; callbacks get buffers owned by the library that are
 * valid only during the callback.
 */
#ifndef VORB_H
#define VORB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VORB_BUILDING_LIBRARY) && defined(__GNUC__)
#define VORB_API __attribute__((visibility("default")))
#else
#define VORB_API
#endif

#define VORB_VERSION_MAJOR 0
#define VORB_VERSION_MINOR 30
#define VORB_VERSION_PATCH 0
#define VORB_VERSION_STRING "0.30beta"
#define VORB_VERSION_NUMBER (VORB_VERSION_MAJOR * 10000 + VORB_VERSION_MINOR * 100 + VORB_VERSION_PATCH)

/* The version of the library linked at run time: VORB_VERSION_NUMBER and
 * VORB_VERSION_STRING as it was built. */
VORB_API unsigned vorb_version_number(void);
VORB_API const char *vorb_version_string(void);

/* Every result of the library. VORB_OK and VORB_END are no errors; from
 * VORB_ERR_LENGTH_CODE to VORB_ERR_TRANSFORM, and from VORB_ERR_CHECKSUM to
 * VORB_ERR_UNREPAIRABLE, the archive's data is damaged. */
typedef enum vorb_status {
    VORB_OK = 0,
    VORB_END,                /* no more entries (vorb_reader_next) */
    VORB_ERR_PARAM,          /* a null pointer, a value out of range, or a call out of order */
    VORB_ERR_MEMORY,         /* buffers or tables could not be allocated */
    VORB_ERR_READ,           /* the read callback returned a negative count */
    VORB_ERR_WRITE,          /* the write callback returned non-zero */
    VORB_ERR_SIGNATURE,      /* the archive does not start with the signature */
    VORB_ERR_TRUNCATED,      /* the archive ends inside its header, an entry or a member */
    VORB_ERR_BLOCK_SIZE,     /* the header's block size is 0 or too large */
    VORB_ERR_LENGTH_CODE,    /* damaged data (number too long) */
    VORB_ERR_FREQUENCY,      /* damaged data (symbol out of range) */
    VORB_ERR_BLOCK_LENGTH,   /* damaged data (block longer than the block size) */
    VORB_ERR_SYMBOL_SET,     /* damaged data (bad symbol set) */
    VORB_ERR_RUN,            /* damaged data (bad run) */
    VORB_ERR_PRIMARY_INDEX,  /* damaged data (bad primary index) */
    VORB_ERR_TRANSFORM,      /* damaged data (block does not invert) */
    VORB_ERR_TRAILING,       /* bytes follow the last member */
    VORB_ERR_NAME_TOO_LONG,  /* a member name longer than VORB_MAX_NAME_LENGTH */
    VORB_ERR_CHECKSUM,       /* unpacked bytes differ from their recorded checksum */
    VORB_ERR_INDEX,          /* the archive's index is damaged */
    VORB_ERR_BLOCK_END,      /* damaged data (a block does not end where the index says the next starts) */
    VORB_ERR_BLOCK_CHECKSUM, /* a block's unpacked bytes differ from the index's checksum of them */
    VORB_ERR_STREAM_END,     /* damaged data (a member's last four bytes are not what its coder flushed) */
    VORB_ERR_RECOVERY,       /* the archive's recovery record is damaged */
    VORB_ERR_UNREPAIRABLE,   /* more damage than the recovery record can repair */
    VORB_ERR_NO_RECOVERY     /* the file has no recovery record */
} vorb_status;

/* A short English text for a status, e.g. "archive is truncated"; never
 * NULL, a static string. */
VORB_API const char *vorb_status_message(vorb_status status);

#define VORB_MAX_NAME_LENGTH 198  /* characters of a stored name */
#define VORB_MAX_MEMBERS 255      /* entries of an archive */
#define VORB_MAX_BLOCK_SIZE 134217727u  /* 2^27 - 1 bytes */
#define VORB_DEFAULT_BLOCK_SIZE 4194304u

/* Reads up to len bytes into buf: returns the count read (fewer than len is
 * fine), 0 at the end, negative on an error (the call then fails with
 * VORB_ERR_READ; keep errno or the like in ctx). */
typedef ptrdiff_t (*vorb_read_fn)(void *ctx, void *buf, size_t len);
/* Takes all len bytes of buf: returns 0 on success, non-zero on an error
 * (the call then fails with VORB_ERR_WRITE). */
typedef int (*vorb_write_fn)(void *ctx, const void *buf, size_t len);
/* Reads up to len bytes at offset, like vorb_read_fn, without moving the
 * position of read. */
typedef ptrdiff_t (*vorb_read_at_fn)(void *ctx, void *buf, size_t len, uint64_t offset);

/* An archive to read: read is required; read_at may be NULL (random access
 * is used only where an archive carries an index); size is the archive's
 * length, or UINT64_MAX when unknown. */
typedef struct vorb_source {
    vorb_read_fn read;
    vorb_read_at_fn read_at;
    void *ctx;
    uint64_t size;
} vorb_source;

/* Progress, for a display: called on the thread that made the call. */
typedef enum vorb_event {
    VORB_EVENT_SORT_STARTED = 1, /* a block's sort started */
    VORB_EVENT_SORT_ENDED,       /* that block's sort ended */
    VORB_EVENT_BLOCK_DECODED     /* a block was decoded */
} vorb_event;
typedef void (*vorb_progress_fn)(void *ctx, vorb_event ev);

/* What a member took: its bytes, the bytes of its block stream, and its
 * blocks with the end marker counted. */
typedef struct vorb_member_stats {
    uint64_t unpacked;
    uint64_t packed;
    uint32_t blocks;
} vorb_member_stats;

/* Bytes the library allocates to pack (unpacking = 0) or unpack (non-zero)
 * with this block size and thread count: block buffers, per-thread sort
 * tables and the coders. 0 for a block size or thread count out of range. */
VORB_API uint64_t vorb_memory_usage(uint32_t block_size, int threads, int unpacking);

/* ---- One member's block stream ---------------------------------------- */

typedef struct vorb_packer vorb_packer;
typedef struct vorb_unpacker vorb_unpacker;

/* A packer for blocks of block_size bytes (1..VORB_MAX_BLOCK_SIZE) sorting
 * on threads threads (1..256). NULL on failure, with *err (when err is not
 * NULL) set to VORB_ERR_PARAM or VORB_ERR_MEMORY. */
VORB_API vorb_packer *vorb_packer_create(uint32_t block_size, int threads, vorb_status *err);
/* Frees the packer; NULL is ignored. */
VORB_API void vorb_packer_free(vorb_packer *p);

/* Reads a member from read to its end and writes its block stream (only
 * that: no header or entry) to write. progress and stats may be NULL. On
 * failure the bytes written are no valid stream. */
VORB_API vorb_status vorb_pack_member(vorb_packer *p, vorb_read_fn read, void *read_ctx, vorb_write_fn write,
                                      void *write_ctx, vorb_progress_fn progress, void *progress_ctx,
                                      vorb_member_stats *stats);

/* An unpacker for streams of blocks up to block_size bytes. NULL on
 * failure, with *err set as for vorb_packer_create. */
VORB_API vorb_unpacker *vorb_unpacker_create(uint32_t block_size, int threads, vorb_status *err);
VORB_API void vorb_unpacker_free(vorb_unpacker *u);

/* Reads one member's block stream from read and writes the member's bytes
 * to write. It reads ahead in chunks: the bytes read past the stream's end
 * are given by vorb_unpacker_unused. stats->packed is the length of the
 * stream. A stream cut short fails with VORB_ERR_TRUNCATED. */
VORB_API vorb_status vorb_unpack_member(vorb_unpacker *u, vorb_read_fn read, void *read_ctx, vorb_write_fn write,
                                        void *write_ctx, vorb_progress_fn progress, void *progress_ctx,
                                        vorb_member_stats *stats);

/* The bytes the last vorb_unpack_member read past the member's stream: a
 * buffer owned by the unpacker, valid until its next call. */
VORB_API vorb_status vorb_unpacker_unused(const vorb_unpacker *u, const void **buf, size_t *len);

/* ---- Archives ---------------------------------------------------------- */

typedef struct vorb_pack_options {
    uint32_t block_size; /* 0: VORB_DEFAULT_BLOCK_SIZE */
    int threads;         /* 0 or 1: one thread */
    int index;           /* non-zero: write an index after the last entry (the
                            bytes in front of it are the plain archive's) */
} vorb_pack_options;

typedef struct vorb_unpack_options {
    int threads;           /* 0 or 1: one thread */
    uint64_t memory_limit; /* bytes the reader's buffers may take; 0: no limit.
                            * Fewer blocks are kept in flight (down to one, on
                            * the caller's thread) to stay within it; when even
                            * one block of the archive's size does not fit,
                            * vorb_reader_open fails with VORB_ERR_MEMORY. The
                            * bytes given back are the same for every limit. */
} vorb_unpack_options;

/* A file's attributes, kept in an archive's index; the plain format stores
 * none. */
typedef struct vorb_file_meta {
    uint32_t mode;       /* permission bits; only the low 12 are kept */
    uint32_t mtime_nsec; /* nanoseconds of the modification time, 0 to 999999999 */
    int64_t mtime;       /* modification time, seconds since 1970 */
} vorb_file_meta;

typedef struct vorb_writer vorb_writer;

/* A writer sending the archive's bytes to write. options may be NULL
 * (defaults). NULL on failure with *err set. */
VORB_API vorb_writer *vorb_writer_create(vorb_write_fn write, void *ctx, const vorb_pack_options *options,
                                         vorb_status *err);
/* Writes the header, announcing member_count entries (0..VORB_MAX_MEMBERS).
 * Once, before any entry. */
VORB_API vorb_status vorb_writer_begin(vorb_writer *w, unsigned member_count);
/* Writes a present entry named name (at most VORB_MAX_NAME_LENGTH bytes, no
 * NUL inside) with the member read from read. meta, progress and stats may
 * be NULL. VORB_ERR_PARAM when all announced entries are written already or
 * the name is too long; nothing is written then. */
VORB_API vorb_status vorb_writer_add_member(vorb_writer *w, const char *name, vorb_read_fn read, void *read_ctx,
                                            const vorb_file_meta *meta, vorb_progress_fn progress,
                                            void *progress_ctx, vorb_member_stats *stats);
/* Where entry i of a batch comes from (vorb_writer_add_members). */
typedef struct vorb_member_input {
    vorb_read_fn read;          /* NULL: an absent entry (a file that could not be read) */
    void *read_ctx;
    const vorb_file_meta *meta; /* may be NULL; copied at once */
} vorb_member_input;

/* The callbacks of a batch, all called on the caller's thread; any but open
 * may be NULL. i counts the batch's entries from 0. */
typedef struct vorb_member_feed {
    /* Entry i is to be read next: fill *in (it comes zeroed). Entries are
     * opened in order, a few ahead of the one being written. */
    void (*open)(void *ctx, unsigned i, vorb_member_input *in);
    /* Entry i's read callback is called no more: its input was read to its
     * end, or the batch failed. Called once for every present entry opened. */
    void (*close)(void *ctx, unsigned i);
    /* Entry i, present or absent, is written next; in order. */
    void (*begin)(void *ctx, unsigned i);
    /* Present entry i is written whole. */
    void (*done)(void *ctx, unsigned i, const vorb_member_stats *stats);
    vorb_progress_fn progress;
    void *ctx;
} vorb_member_feed;

/* Writes count entries named names[0..count-1], byte for byte as the same
 * calls of vorb_writer_add_member and vorb_writer_add_absent would. With
 * threads > 1 an entry's first blocks sort while the last blocks of the one
 * before it are coded, so files shorter than a block keep every thread busy.
 * VORB_ERR_PARAM, with nothing written, for more entries than remain to be
 * announced, a NULL or too long name, or a NULL open (names may be NULL when
 * count is 0); later for a meta whose
 * mtime_nsec is out of range. The first failure ends the batch: no entry
 * after it is opened (after a failed write, none after the one being read). */
VORB_API vorb_status vorb_writer_add_members(vorb_writer *w, const char *const *names, unsigned count,
                                             const vorb_member_feed *feed);
/* Writes an absent entry (a file that could not be read); the plain format
 * does not store name, an index does (at most VORB_MAX_NAME_LENGTH bytes). */
VORB_API vorb_status vorb_writer_add_absent(vorb_writer *w, const char *name);
/* A folder or symbolic link of a packed tree, kept in an archive's index as
 * a record with no member: plain readers see only the members. */
typedef enum vorb_node_kind { VORB_NODE_FOLDER = 1, VORB_NODE_LINK = 2 } vorb_node_kind;
#define VORB_MAX_LINK_LENGTH 4095 /* bytes of a link's text */
typedef struct vorb_node {
    vorb_node_kind kind;
    const char *path;           /* stored like a member name: 1 to VORB_MAX_NAME_LENGTH bytes */
    const char *target;         /* a link's text (1 to VORB_MAX_LINK_LENGTH bytes); NULL for a folder */
    const vorb_file_meta *meta; /* NULL: none recorded */
} vorb_node;

/* Records a node in the index. Indexed writers only (else VORB_ERR_PARAM);
 * any time between vorb_writer_begin and vorb_writer_finish. VORB_ERR_PARAM,
 * with nothing recorded, for a NULL or out-of-range field, a folder with a
 * target or a meta whose mtime_nsec is out of range. The strings are copied. */
VORB_API vorb_status vorb_writer_add_node(vorb_writer *w, const vorb_node *node);
/* Writes the index when asked for, and hands every byte to the write
 * callback. VORB_ERR_PARAM when fewer entries were written than announced,
 * or when called again: nothing more is written then. */
VORB_API vorb_status vorb_writer_finish(vorb_writer *w);
VORB_API void vorb_writer_free(vorb_writer *w);

typedef struct vorb_reader vorb_reader;

/* The archive carries an index that passed every check: sizes, attributes
 * and checksums of the entries come from it, and unpacking decodes several
 * blocks of a member at once. */
#define VORB_INFO_HAS_INDEX 1u
/* The bytes after the last entry end like an index but fail its checks: the
 * archive is read as a plain one and vorb_reader_finish says VORB_ERR_INDEX. */
#define VORB_INFO_INDEX_DAMAGED 2u
/* A recovery record follows the archive (vorb_recovery_check checks it);
 * the archive is read as the bytes in front of it. For an archive read as
 * a stream known only after vorb_reader_finish. */
#define VORB_INFO_HAS_RECOVERY 4u
/* One of the record's two header copies is lost (its end, when read as a
 * stream or when the file's tail is cut): vorb_reader_finish says
 * VORB_ERR_RECOVERY; the members are read all the same. */
#define VORB_INFO_RECOVERY_DAMAGED 8u

typedef struct vorb_archive_info {
    uint32_t block_size;
    unsigned member_count;
    uint32_t flags;            /* VORB_INFO_* bits; fields below are valid only when their flag is set */
    uint32_t index_version;    /* of a valid index: 1 (no block checksums, no nodes) or 2; 0 none (yet,
                                  for an archive read as a stream before vorb_reader_finish) */
    uint32_t recovery_percent; /* VORB_INFO_HAS_RECOVERY: the record's size as a percentage */
    uint32_t reserved[5];      /* zero */
} vorb_archive_info;

#define VORB_ENTRY_HAS_SIZE 1u        /* unpacked_size and packed_size are valid */
#define VORB_ENTRY_HAS_META 2u        /* meta is valid */
#define VORB_ENTRY_HAS_CHECKSUM 4u    /* unpacking and testing check the member's bytes */
#define VORB_ENTRY_HAS_ABSENT_NAME 8u /* an absent entry: name holds the file that could not be packed */

typedef struct vorb_entry {
    int present;                        /* 0: an absent entry, nothing to unpack */
    int name_too_long;                  /* the stored name was longer; name holds its start */
    char name[VORB_MAX_NAME_LENGTH + 1]; /* stored name, NUL-ended */
    uint32_t flags;                     /* VORB_ENTRY_* bits */
    uint64_t unpacked_size;             /* valid with VORB_ENTRY_HAS_SIZE */
    vorb_file_meta meta;                /* valid with VORB_ENTRY_HAS_META */
    uint64_t packed_size;               /* bytes of the block stream, valid with VORB_ENTRY_HAS_SIZE */
    uint64_t reserved[3];               /* zero */
} vorb_entry;

/* Reads an archive's header from its first len bytes in buf, as
 * vorb_reader_open would, without a reader: to say what was wrong with a
 * header vorb_reader_open refused. info->block_size is filled in even when
 * it is out of range (VORB_ERR_BLOCK_SIZE). */
VORB_API vorb_status vorb_header_parse(const void *buf, size_t len, vorb_archive_info *info);

/* Opens an archive: reads and checks its header (VORB_ERR_SIGNATURE,
 * VORB_ERR_TRUNCATED, VORB_ERR_BLOCK_SIZE, VORB_ERR_READ) and allocates the
 * buffers of its block size (VORB_ERR_MEMORY). source is copied; its ctx
 * must stay valid until vorb_reader_free. options may be NULL. */
VORB_API vorb_reader *vorb_reader_open(const vorb_source *source, const vorb_unpack_options *options,
                                       vorb_status *err);
VORB_API vorb_status vorb_reader_info(const vorb_reader *r, vorb_archive_info *info);
/* Why the index is damaged (VORB_INFO_INDEX_DAMAGED), e.g. "index checksum
 * mismatch"; for a valid index, why it disagrees with the header (the
 * archive is then read by the index and vorb_reader_finish says
 * VORB_ERR_INDEX); NULL otherwise. A static string. */
VORB_API const char *vorb_reader_index_fault(const vorb_reader *r);
/* Reads every archive byte in front of the index again and compares them
 * with the index's checksum of them: VORB_OK, VORB_ERR_CHECKSUM when they
 * differ (a header, name or presence byte may be wrong), VORB_ERR_READ, or
 * VORB_ERR_PARAM for an archive without a valid index or read as a stream
 * (vorb_reader_finish compares that one's). Call it before the
 * first entry to know the names can be trusted. */
VORB_API vorb_status vorb_reader_check_archive(vorb_reader *r);
/* Steps to the next entry and describes it in *entry; a present member not
 * unpacked, skipped or tested is skipped first (with an index without
 * decoding it). VORB_END after the last entry. */
VORB_API vorb_status vorb_reader_next(vorb_reader *r, vorb_entry *entry);
/* Unpacks the current present entry to write. Once per entry. With
 * VORB_ENTRY_HAS_CHECKSUM the bytes are checked: VORB_ERR_CHECKSUM when they
 * differ (the bytes went to write all the same: discard them). With an
 * index a damaged member leaves the reader on the next entry; without one
 * the reader stops. */
VORB_API vorb_status vorb_reader_unpack(vorb_reader *r, vorb_write_fn write, void *write_ctx,
                                        vorb_progress_fn progress, void *progress_ctx, vorb_member_stats *stats);
/* Decodes the current entry's sizes only (no inverse transform: fast, but
 * damage in a block's transform goes unseen); with an index it decodes
 * nothing and gives the index's sizes. */
VORB_API vorb_status vorb_reader_skip(vorb_reader *r, vorb_member_stats *stats);
/* Decodes the current entry fully, writing nothing; checks its checksum as
 * vorb_reader_unpack does. */
VORB_API vorb_status vorb_reader_test(vorb_reader *r, vorb_progress_fn progress, void *progress_ctx,
                                      vorb_member_stats *stats);
/* After vorb_reader_unpack or vorb_reader_test failed on a member of an
 * archive read with its index: the member's bytes [*offset, *offset +
 * *length) of the block that failed (with a version 2 index, a block whose
 * bytes differ from its checksum: VORB_ERR_BLOCK_CHECKSUM), none of which
 * were handed to write; the blocks before it were checked. VORB_ERR_PARAM
 * when the failure is not one block's (e.g. VORB_ERR_CHECKSUM of a version 1
 * member, a failed write) or no member failed. */
VORB_API vorb_status vorb_reader_damaged_range(const vorb_reader *r, uint64_t *offset, uint64_t *length);
/* After VORB_END: VORB_OK when the archive ends with its last entry or its
 * valid index (and a recovery record after either), VORB_ERR_INDEX when a
 * damaged index follows it or the index disagrees with the header on the
 * block size or entry count, VORB_ERR_RECOVERY when a record whose end is
 * lost does (VORB_INFO_RECOVERY_DAMAGED), VORB_ERR_TRAILING when other
 * bytes follow. An archive read as a stream (no read_at) has its index
 * checked here against what was read: each member's size and stream, its
 * checksum when it was unpacked or tested, and the checksum of every byte in
 * front of the index; VORB_ERR_CHECKSUM when any differ
 * (vorb_reader_mismatch says which). Nodes are then known. */
VORB_API vorb_status vorb_reader_finish(vorb_reader *r);
/* After vorb_reader_finish gave VORB_ERR_CHECKSUM for an archive read as a
 * stream: what differed from its index (a static text, e.g. "checksum"),
 * with *name (when name is not NULL) the stored name of the member it
 * belongs to, or NULL when it is the archive's bytes as a whole (valid until
 * vorb_reader_free). NULL when nothing differed. */
VORB_API const char *vorb_reader_mismatch(const vorb_reader *r, const char **name);
/* Nodes of a valid index: known after vorb_reader_open for an archive read
 * at offsets, after vorb_reader_finish returned VORB_OK for one read as a
 * stream; 0 before, without an index, or for a version 1 index. */
VORB_API unsigned vorb_reader_node_count(const vorb_reader *r);
/* Node i (below vorb_reader_node_count) in *node; its strings and meta
 * belong to the reader and stay valid until vorb_reader_free. */
VORB_API vorb_status vorb_reader_node(const vorb_reader *r, unsigned i, vorb_node *node);
VORB_API void vorb_reader_free(vorb_reader *r);

/* ---- Salvage: what a damaged archive still holds ----------------------- */

/* A salvager reads an archive at offsets (source->read_at and size are
 * required) and unpacks every member as far as the damage allows, saying
 * exactly what was lost. With a valid index each block is decoded from its
 * record and checked on its own, and a lost block is given back as zero
 * bytes, so a member comes out at full size. Without one (or when the index
 * is damaged) the entries are read in order; a member keeps the blocks
 * decoded before its damage, which nothing can verify, and the next entry
 * is searched for in the bytes after it. The search's work is bounded. */
typedef struct vorb_salvager vorb_salvager;

#define VORB_SALVAGE_INDEXED 1u          /* read through a valid index */
#define VORB_SALVAGE_INDEX_DAMAGED 2u    /* the archive ends like an index that fails its checks: read as plain */
#define VORB_SALVAGE_HEADER_DAMAGED 4u   /* the header is no archive's: without an index, blocks are taken to be
                                            at most VORB_DEFAULT_BLOCK_SIZE and the member count is unknown */
#define VORB_SALVAGE_BLOCK_CHECKSUMS 8u  /* the index has a checksum for each block (version 2) */
#define VORB_SALVAGE_GAVE_UP 16u         /* after VORB_END: a search stopped at its bound, at unread_from */

typedef struct vorb_salvage_info {
    uint32_t flags;           /* VORB_SALVAGE_* */
    uint32_t block_size;      /* the largest block decoded */
    unsigned member_count;    /* entries announced; VORB_MAX_MEMBERS when the header is damaged */
    unsigned entries_seen;    /* entries found so far */
    const char *index_fault;  /* with VORB_SALVAGE_INDEX_DAMAGED: which check failed, else NULL */
    uint64_t unread_from;     /* after VORB_END: no entry was found from this offset to the end */
    uint64_t archive_size;
    uint64_t reserved[4];     /* zero */
} vorb_salvage_info;

#define VORB_SALVAGE_NAME_DAMAGED 1u  /* the stored name failed its entry checksum: name is a placeholder */
#define VORB_SALVAGE_FOUND 2u         /* reached by searching: the bytes from skipped_from to offset were passed
                                         over (none when the two are equal) */

typedef struct vorb_salvage_entry {
    vorb_entry entry;         /* as vorb_reader_next describes it */
    uint32_t salvage_flags;   /* VORB_SALVAGE_NAME_DAMAGED, VORB_SALVAGE_FOUND */
    unsigned number;          /* the entry's place in the archive from 1; 0 once a search may have passed entries over */
    uint64_t offset;          /* archive offset of its presence byte */
    uint64_t skipped_from;    /* with VORB_SALVAGE_FOUND */
    uint64_t reserved[2];     /* zero */
} vorb_salvage_entry;

/* A range of a member's bytes that could not be brought back, in member
 * order; length UINT64_MAX: everything from offset on, the member's size
 * being unknown. */
typedef void (*vorb_lost_fn)(void *ctx, uint64_t offset, uint64_t length);

#define VORB_SALVAGE_WHOLE 1u      /* nothing was lost */
#define VORB_SALVAGE_VERIFIED 2u   /* every byte saved (the zero fill aside) passed a checksum of the index */
#define VORB_SALVAGE_REST_LOST 4u  /* everything after the bytes written is lost, its length unknown */

typedef struct vorb_salvage_result {
    uint32_t flags;    /* VORB_SALVAGE_WHOLE, VORB_SALVAGE_VERIFIED, VORB_SALVAGE_REST_LOST */
    uint64_t written;  /* bytes handed to write, zero fill included */
    uint64_t lost;     /* bytes lost (as zero fill) */
    uint64_t reserved[2];
} vorb_salvage_result;

/* Opens the archive for salvage: a header or index that fails its checks
 * is no error (see vorb_salvager_info). A recovery record at the file's end
 * is left out: the archive is the bytes in front of it. NULL with *err set to
 * VORB_ERR_PARAM (no read_at or size), VORB_ERR_READ or VORB_ERR_MEMORY
 * (also when the buffers would take more than options->memory_limit).
 * options->threads is not used. */
VORB_API vorb_salvager *vorb_salvager_open(const vorb_source *source, const vorb_unpack_options *options,
                                           vorb_status *err);
VORB_API vorb_status vorb_salvager_info(const vorb_salvager *s, vorb_salvage_info *info);
/* Steps to the next entry found and describes it; a present member not
 * unpacked is decoded to nowhere first. VORB_END after the last (or when
 * no further entry can be found), VORB_ERR_READ. */
VORB_API vorb_status vorb_salvager_next(vorb_salvager *s, vorb_salvage_entry *entry);
/* Unpacks the current present member to write, each lost range to lost
 * (which may be NULL); result may be NULL. VORB_OK when it came back whole
 * (verified, where the archive has an index); else the damage status found
 * first, the member having been written as far as result says. Once per
 * entry; VORB_ERR_WRITE and VORB_ERR_READ end the salvage. */
VORB_API vorb_status vorb_salvager_unpack(vorb_salvager *s, vorb_write_fn write, void *write_ctx, vorb_lost_fn lost,
                                          void *lost_ctx, vorb_progress_fn progress, void *progress_ctx,
                                          vorb_salvage_result *result);
VORB_API void vorb_salvager_free(vorb_salvager *s);

/* ---- Recovery records ------------------------------------------------- */

/* A recovery record follows a complete archive (index included): parity
 * over every byte in front of it, so that damaged units of those bytes can
 * be rebuilt, and a checksum per unit to find them. Its layout is in
 * doc/recovery-format.md; readers take the archive as the bytes in front
 * of it. */
#define VORB_MIN_RECOVERY_PERCENT 1
#define VORB_MAX_RECOVERY_PERCENT 50

typedef struct vorb_recovery_layout {
    uint64_t data_size;      /* bytes in front of the record */
    uint64_t record_size;    /* bytes of the record */
    uint32_t percent;        /* parity units per data unit, in percent */
    uint32_t unit_size;      /* bytes per unit */
    uint32_t stripes;
    uint32_t data_units;     /* per stripe */
    uint32_t parity_units;   /* per stripe: the units a stripe may lose */
    uint32_t reserved;       /* zero */
    uint64_t burst_bytes;    /* a contiguous run of damage this long or
                                shorter, anywhere in the file, is always
                                repaired */
} vorb_recovery_layout;

/* The layout a record over data_size bytes (1 to 2^50) at percent
 * (VORB_MIN_RECOVERY_PERCENT to VORB_MAX_RECOVERY_PERCENT) gets. */
VORB_API vorb_status vorb_recovery_plan(uint64_t data_size, unsigned percent, vorb_recovery_layout *layout);

/* Reads source->size bytes through source->read (read_at is not used) and
 * writes the recovery record for them to write, to be appended after them.
 * VORB_ERR_TRUNCATED when read ends first. Takes memory of about the
 * record's size. */
VORB_API vorb_status vorb_recovery_build(const vorb_source *source, unsigned percent, vorb_write_fn write,
                                         void *write_ctx);

typedef enum vorb_recovery_state {
    VORB_RECOVERY_NONE = 0,   /* no record found */
    VORB_RECOVERY_INTACT,     /* every unit, the table and both header copies check */
    VORB_RECOVERY_REPAIRABLE, /* damaged, and vorb_recovery_repair gives it back whole */
    VORB_RECOVERY_BEYOND      /* more damage in front of the record than it can repair */
} vorb_recovery_state;

typedef struct vorb_recovery_report {
    vorb_recovery_state state;
    vorb_recovery_layout layout;   /* unless state is VORB_RECOVERY_NONE */
    uint64_t damaged_data_units;   /* units in front of the record damaged or missing */
    uint64_t damaged_record_units; /* parity units, table chunks and header copies damaged or missing */
    uint64_t unknown_units;        /* units whose checksum was lost (rebuilt when need be) */
    uint32_t stripes_beyond;       /* stripes that lost more units than they have parity units */
    uint32_t reserved;             /* zero */
} vorb_recovery_report;

/* Checks a file that may end with a recovery record: source needs read_at
 * and size; every byte is read once. A record whose end is lost (a cut
 * tail) is found by its first header copy. VORB_OK with the verdict in
 * *report, VORB_ERR_READ, VORB_ERR_MEMORY. */
VORB_API vorb_status vorb_recovery_check(const vorb_source *source, vorb_recovery_report *report);

/* Checks the file as vorb_recovery_check does (report may be NULL) and,
 * when it is repairable, writes it whole to write: the bytes in front of
 * the record with every damaged unit rebuilt, then the record made afresh,
 * byte for byte the file as it was packed. VORB_OK only when every rebuilt
 * unit and the whole met their checksums; otherwise discard what was
 * written. VORB_ERR_NO_RECOVERY or VORB_ERR_UNREPAIRABLE write nothing; an
 * intact file is written as it is. Takes memory of about the record's size
 * and the damaged units'. */
VORB_API vorb_status vorb_recovery_repair(const vorb_source *source, vorb_write_fn write, void *write_ctx,
                                          vorb_recovery_report *report);

#ifdef __cplusplus
}
#endif

#endif /* VORB_H */
