#!/usr/bin/env python3
"""Lists the members of a vorb archive through libvorb's reader, by ctypes.

    list_members.py LIBRARY ARCHIVE    (LIBRARY: the path of libvorb.so.0)

Prints one line per entry: its unpacked and packed sizes and its name.
"""
import ctypes as C
import sys

MAX_NAME = 198
VORB_OK, VORB_END = 0, 1

READ_FN = C.CFUNCTYPE(C.c_ssize_t, C.c_void_p, C.c_void_p, C.c_size_t)


class Source(C.Structure):
    _fields_ = [("read", READ_FN), ("read_at", C.c_void_p), ("ctx", C.c_void_p), ("size", C.c_uint64)]


class Meta(C.Structure):
    _fields_ = [("mode", C.c_uint32), ("mtime_nsec", C.c_uint32), ("mtime", C.c_int64)]


class Entry(C.Structure):
    _fields_ = [("present", C.c_int), ("name_too_long", C.c_int), ("name", C.c_char * (MAX_NAME + 1)),
                ("flags", C.c_uint32), ("unpacked_size", C.c_uint64), ("meta", Meta),
                ("packed_size", C.c_uint64), ("reserved", C.c_uint64 * 3)]


class Stats(C.Structure):
    _fields_ = [("unpacked", C.c_uint64), ("packed", C.c_uint64), ("blocks", C.c_uint32)]


def main(library, archive_path):
    lib = C.CDLL(library)
    lib.vorb_reader_open.restype = C.c_void_p
    lib.vorb_reader_open.argtypes = [C.POINTER(Source), C.c_void_p, C.POINTER(C.c_int)]
    lib.vorb_reader_next.argtypes = [C.c_void_p, C.POINTER(Entry)]
    lib.vorb_reader_skip.argtypes = [C.c_void_p, C.POINTER(Stats)]
    lib.vorb_reader_finish.argtypes = [C.c_void_p]
    lib.vorb_reader_free.argtypes = [C.c_void_p]
    lib.vorb_status_message.restype = C.c_char_p

    with open(archive_path, "rb") as f:
        def read(_ctx, buf, length):
            try:
                data = f.read(length)
            except OSError:
                return -1
            C.memmove(buf, data, len(data))
            return len(data)

        reader_fn = READ_FN(read)  # kept alive while the reader uses it
        source = Source(reader_fn, None, None, 2**64 - 1)
        status = C.c_int(VORB_OK)
        reader = lib.vorb_reader_open(C.byref(source), None, C.byref(status))
        if not reader:
            sys.exit("%s: %s" % (archive_path, lib.vorb_status_message(status.value).decode()))
        entry, stats = Entry(), Stats()
        try:
            while (st := lib.vorb_reader_next(reader, C.byref(entry))) == VORB_OK:
                if not entry.present:
                    print("%12s %12s  (absent entry)" % ("-", "-"))
                    continue
                st = lib.vorb_reader_skip(reader, C.byref(stats))
                if st != VORB_OK:
                    break
                print("%12d %12d  %s" % (stats.unpacked, stats.packed, entry.name.decode(errors="replace")))
            if st == VORB_END:
                st = lib.vorb_reader_finish(reader)
        finally:
            lib.vorb_reader_free(reader)
        if st != VORB_OK:
            sys.exit("%s: %s" % (archive_path, lib.vorb_status_message(st).decode()))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
