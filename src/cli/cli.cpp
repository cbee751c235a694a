#include "cli.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "console.h"
#include "options.h"
#include "pack_files.h"
#include "repair.h"
#include "salvage.h"
#include "signal_cleanup.h"
#include "unpack.h"
#include "verify_list.h"

namespace {

const char* const version_text = "vorb " VORB_VERSION_STRING "\n";

const char* const help_text =
    "Usage: vorb [OPTION...] COMMAND ARCHIVE [FILE...]\n"
    "       vorb [OPTION...] [-d] <INPUT >OUTPUT\n"
    "Block-sorting file archiver.\n"
    "\n"
    "Commands (only the first letter counts):\n"
    "  e ARCHIVE FILE...  pack the files into ARCHIVE (an existing one is replaced);\n"
    "                     a folder packs every regular file under it, stored as\n"
    "                     DIR/path in byte order of names; - packs standard input\n"
    "  d ARCHIVE [NAME...]  unpack every member (or those named) as \"_\" + its stored name\n"
    "  t ARCHIVE [NAME...]  test: decode every member (or those named), write nothing\n"
    "  l ARCHIVE [NAME...]  list members with unpacked and packed sizes\n"
    "  r ARCHIVE          repair ARCHIVE from its recovery record (see -r): the\n"
    "                     repaired archive replaces it only once every checksum\n"
    "                     matches; an undamaged one is left as it is\n"
    "ARCHIVE \"-\" is standard output for e (the console text then goes to\n"
    "standard error) and standard input for d, t and l.\n"
    "At most 255 files fit in an archive; pack a larger tree through tar:\n"
    "  tar -I vorb -cf NAME.tar.vorb DIR     tar -I vorb -xf NAME.tar.vorb\n"
    "\n"
    "Without a command, and standard input not a terminal, vorb is a filter:\n"
    "it packs standard input to standard output as one indexed member named\n"
    "\"stdin\" (--name), or with -d unpacks the archive on standard input to\n"
    "standard output; it says nothing but errors.\n"
    "\n"
    "Options (before the command; short ones combine, as in -qt1):\n"
    "  -t N, --threads=N     worker threads; 0 (the default) uses every core.\n"
    "                        The archive is the same for every thread count.\n"
    "  -b N, --block-size=N  block size in MiB for packing, 1 to 127 (default 4)\n"
    "  -C DIR, --directory=DIR  unpack into DIR (which must exist)\n"
    "  -c, --stdout          d: write the members' bytes to standard output\n"
    "  -f, --force           e: replace an existing file that is not an archive\n"
    "  --memory=SIZE         d, t, l: memory the blocks in flight may take, in\n"
    "                        bytes or with K, M or G (default: a quarter of the\n"
    "                        machine's); fewer blocks are decoded at once to stay\n"
    "                        within it\n"
    "  -q, --quiet           no banner, progress or times; errors are still shown\n"
    "  -i, --index           packing: write an index after the last entry, with\n"
    "                        checksums (of every block too), sizes, file modes and\n"
    "                        times, folders and symbolic links, so d and t check\n"
    "                        every member and name a damaged block's bytes, d\n"
    "                        decodes one member on every thread and restores empty\n"
    "                        folders, links and folders' modes and times, and l\n"
    "                        reads no member; from a pipe the index is checked at\n"
    "                        the end\n"
    "  -r N, --recovery=N    packing: add a recovery record of N percent (1 to\n"
    "                        50) after the index (-r implies -i), so vorb r can\n"
    "                        repair damage: at 5, any one burst of up to 4 % of\n"
    "                        the file and a cut-off tail as long always, bad\n"
    "                        sectors here and there most often; t checks it\n"
    "  --no-index            no index (the filter's default is one)\n"
    "  -d, --decompress      filter: unpack (-b, -i, --name, -f, --no-index ignored)\n"
    "  --name=NAME           the stored name of standard input (default \"stdin\")\n"
    "  --salvage             d: unpack what damage left of every member and list\n"
    "                        each lost range (member, offset, length). Indexed:\n"
    "                        each block is checked on its own and a lost one is\n"
    "                        written as zeros. Plain: a member keeps the blocks\n"
    "                        before its damage (unverifiable) and the next entry\n"
    "                        is searched for. ARCHIVE must be a file\n"
    "  -h, --help            show this help\n"
    "  -V, --version         show the version\n"
    "  --                    end of options (also once after ARCHIVE)\n"
    "VORB_OPTIONS in the environment holds options read before the command\n"
    "line's (options only), e.g. VORB_OPTIONS=-i indexes every archive.\n"
    "\n"
    "Memory: packing allocates 5.4 bytes per block byte for each block in\n"
    "flight, one on one thread and threads + 1 when threaded (21.8 MiB on one\n"
    "thread at the default 4 MiB blocks, 69.5 MiB on two); unpacking 8 bytes\n"
    "per block byte for each thread and 1 for each block in flight, two on one\n"
    "thread and 2 x threads + 1 when threaded (40 MiB on one thread, 84 MiB on\n"
    "two).\n"
    "Measured peaks at 4 MiB blocks on one thread: 26 MiB packing, 34 unpacking.\n"
    "\n"
    "Exit status: 0 success; 255 (-1) usage error or a file not replaced;\n"
    "254 (-2) an archive or file could not be read or written, the archive is\n"
    "damaged, or a file was not packed or a member not unpacked; 128 + the\n"
    "signal after SIGINT, SIGTERM or SIGHUP. After a fatal error vorb waits for\n"
    "a key only when standard input is a terminal.\n";

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The default limit for unpacking: a quarter of the machine's memory, so a
// forged block size cannot take the machine down; 0 (none) when unknown.
uint64_t default_memory_limit() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long page_size = ::sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size) / 4;
}

// Ends a failed run. Text that could not go to standard output fails the
// run too, and the message goes where it can still be read.
void written_out(Console& con, RunResult r) {
    if (con.out == stdout && std::ferror(stdout)) {
        const int err = errno != 0 ? errno : EIO;
        con.out = stderr;
        if (r.status == 0) r = run_failed(std::string("\nWrite error on standard output: ") + std::strerror(err));
    }
    if (r.status != 0) fatal_error(con, r.message.c_str(), r.status);
}

}  // namespace

int vorb_main(int argc, char** argv) {
    const uint64_t run_start = clock_ms();
    console_init();
    signal_cleanup_install();
    const Options opt = parse_options(argc, argv, std::getenv("VORB_OPTIONS"));
    Console con;
    if (opt.help || opt.version) {
        std::fputs(opt.help ? help_text : version_text, stdout);
        written_out(con, RunResult{});
        return 0;
    }
    con.quiet = opt.quiet;
    const int args = argc - opt.first_arg;
    const char command = args >= 1 ? argv[opt.first_arg][0] : 0;
    const std::string archive = args >= 2 ? argv[opt.first_arg + 1] : "";
    // No command: a filter between standard input and output, as tar drives one.
    const bool filter = args == 0 && (opt.decompress || !::isatty(STDIN_FILENO));
    const bool data_on_stdout = filter || (command == 'e' && archive == "-") || (command == 'd' && opt.to_stdout);
    // Bytes on standard output leave it to them: the console moves to standard error.
    if (data_on_stdout) con.out = stderr;
    // A filter says nothing but errors; a reader that stops early ends it by
    // SIGPIPE, as it would any filter, even when the caller ignored the signal.
    if (filter) con.quiet = true;
    if (data_on_stdout) ::signal(SIGPIPE, SIG_DFL);
    print_banner(con);
    if (!opt.error.empty()) fatal_error(con, (opt.error + "\nTry 'vorb --help'.").c_str(), status_usage);
    if (opt.decompress && !filter)
        fatal_error(con, "\nOption -d works without a command only: it unpacks standard input to standard output",
                    status_usage);
    if (!filter && args < 2) fatal_error(con, usage_text, status_usage);
    if (!filter && command != 'e' && command != 'd' && command != 't' && command != 'l' &&
        command != 'r')
        fatal_error(con, ("\nUnknown command: " + printable_name(argv[opt.first_arg]) + usage_text).c_str(),
                    status_usage);
    if (opt.to_stdout && !filter && command != 'd') fatal_error(con, "\nOption -c works with d only", status_usage);
    if (opt.salvage && (filter || command != 'd'))
        fatal_error(con, "\nOption --salvage works with d only", status_usage);

    ReadOptions read;
    read.archive = filter ? "-" : archive;
    read.threads = resolve_threads(opt.threads);
    // After the archive: files to pack, or the members to unpack, test or list.
    if (!filter) read.names = names_after_archive(argc, argv, opt.first_arg + 2);
    read.memory_limit = opt.memory != 0 ? opt.memory : default_memory_limit();
    RunResult r;
    if (filter && opt.decompress) {
        UnpackOptions u;
        u.read = read;
        u.to_stdout = true;
        r = unpack_archive(u, con);
    } else if (filter || command == 'e') {
        PackOptions p;
        p.archive = read.archive;
        p.files = filter ? std::vector<std::string>{"-"} : read.names;
        if (!opt.name.empty()) p.stdin_name = opt.name;
        p.block_size = opt.block_mib << 20;
        p.threads = read.threads;
        p.force = opt.force;
        // A filter's stream gets its checksums unless told otherwise; the
        // record follows an index.
        p.index = opt.index.value_or(filter) || opt.recovery != 0;
        p.recovery = opt.recovery;
        if (opt.recovery && p.archive == "-")
            r = RunResult{status_usage, "\nOption -r needs an archive file: the record is made from the archive "
                                        "read back, which standard output cannot be"};
        else if (p.archive == "-" && ::isatty(STDOUT_FILENO) && !opt.force)
            r = RunResult{status_usage, "\nWon't write an archive to a terminal (use -f to force it)"};
        else
            r = pack_archive(p, con);
    } else if (command == 'd') {
        UnpackOptions u;
        u.read = read;
        u.directory = opt.directory;
        u.to_stdout = opt.to_stdout;
        if (!u.directory.empty() && !is_directory(u.directory))
            r = run_failed("\nNot a directory: " + printable_name(u.directory));
        else
            r = opt.salvage ? salvage_archive(u, con) : unpack_archive(u, con);
    } else if (command == 'r') {
        if (!read.names.empty())
            r = RunResult{status_usage, "\nvorb r repairs a whole archive: no member names after it"};
        else
            r = repair_archive(archive, con);
    } else {
        r = command == 't' ? test_archive(read, con) : list_archive(read, con);
    }
    if (r.status == 0 && !con.quiet)
        std::fprintf(con.out, "\nTotal time: %lums", static_cast<unsigned long>(clock_ms() - run_start));
    written_out(con, r);
    return 0;
}
