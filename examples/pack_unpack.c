/* Packs the files named on the command line into an archive in memory
 * through the writer, unpacks it again through the reader and compares each
 * member with its file. Exit status 0 only when every member matches.
 *
 *   cc pack_unpack.c $(pkg-config --cflags --libs vorb) -o pack_unpack
 *   ./pack_unpack FILE...
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vorb.h>

/* A growing buffer in memory: the archive, or a member unpacked. */
typedef struct {
    unsigned char *data;
    size_t len, cap;
} buffer;

static int buffer_write(void *ctx, const void *bytes, size_t len) {
    buffer *b = ctx;
    if (b->len + len > b->cap) {
        size_t cap = b->cap ? b->cap : 4096;
        while (cap < b->len + len) cap *= 2;
        unsigned char *grown = realloc(b->data, cap);
        if (!grown) return 1;
        b->data = grown;
        b->cap = cap;
    }
    memcpy(b->data + b->len, bytes, len);
    b->len += len;
    return 0;
}

/* Reads the archive back from memory, a reader position in ctx. */
typedef struct {
    const buffer *b;
    size_t at;
} cursor;

static ptrdiff_t cursor_read(void *ctx, void *out, size_t len) {
    cursor *c = ctx;
    size_t left = c->b->len - c->at;
    if (len > left) len = left;
    memcpy(out, c->b->data + c->at, len);
    c->at += len;
    return (ptrdiff_t)len;
}

static ptrdiff_t file_read(void *ctx, void *out, size_t len) {
    size_t got = fread(out, 1, len, (FILE *)ctx);
    return ferror((FILE *)ctx) ? -1 : (ptrdiff_t)got;
}

static int read_whole_file(const char *path, buffer *b) {
    FILE *f = fopen(path, "rb");
    unsigned char chunk[65536];
    size_t got;
    if (!f) return 0;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        if (buffer_write(b, chunk, got) != 0) break;
    int ok = !ferror(f);
    fclose(f);
    return ok;
}

static int pack(int count, char **paths, buffer *archive) {
    vorb_status st = VORB_OK;
    vorb_pack_options options = {1 << 20, 2, 0};
    vorb_writer *w = vorb_writer_create(buffer_write, archive, &options, &st);
    if (!w) return fprintf(stderr, "writer: %s\n", vorb_status_message(st)), 0;
    st = vorb_writer_begin(w, (unsigned)count);
    for (int i = 0; i < count && st == VORB_OK; i++) {
        FILE *f = fopen(paths[i], "rb");
        if (!f) {
            st = vorb_writer_add_absent(w, paths[i]);
            continue;
        }
        st = vorb_writer_add_member(w, paths[i], file_read, f, NULL, NULL, NULL, NULL);
        fclose(f);
    }
    if (st == VORB_OK) st = vorb_writer_finish(w);
    vorb_writer_free(w);
    if (st != VORB_OK) fprintf(stderr, "packing: %s\n", vorb_status_message(st));
    return st == VORB_OK;
}

static int unpack_and_compare(const buffer *archive, char **paths) {
    cursor c = {archive, 0};
    vorb_source source = {cursor_read, NULL, &c, archive->len};
    vorb_status st = VORB_OK;
    vorb_reader *r = vorb_reader_open(&source, NULL, &st);
    if (!r) return fprintf(stderr, "reader: %s\n", vorb_status_message(st)), 0;
    int same = 1;
    vorb_entry e;
    for (int i = 0; same && (st = vorb_reader_next(r, &e)) == VORB_OK; i++) {
        if (!e.present) continue;
        buffer member = {0}, original = {0};
        st = vorb_reader_unpack(r, buffer_write, &member, NULL, NULL, NULL);
        same = st == VORB_OK && strcmp(e.name, paths[i]) == 0 && read_whole_file(paths[i], &original) &&
               member.len == original.len && (member.len == 0 || memcmp(member.data, original.data, member.len) == 0);
        printf("%s: %s\n", e.name, same ? "same" : "DIFFERENT");
        free(member.data);
        free(original.data);
    }
    if (same && st == VORB_END) st = vorb_reader_finish(r);
    vorb_reader_free(r);
    if (st != VORB_OK) fprintf(stderr, "unpacking: %s\n", vorb_status_message(st));
    return same && st == VORB_OK;
}

int main(int argc, char **argv) {
    if (argc < 2 || argc - 1 > VORB_MAX_MEMBERS) {
        fprintf(stderr, "usage: %s FILE... (at most %d)\n", argv[0], VORB_MAX_MEMBERS);
        return 2;
    }
    printf("libvorb %s\n", vorb_version_string());
    buffer archive = {0};
    int ok = pack(argc - 1, argv + 1, &archive) && unpack_and_compare(&archive, argv + 1);
    free(archive.data);
    return ok ? 0 : 1;
}
