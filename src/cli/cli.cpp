#include "cli.h"

#include <cstdio>
#include <sys/stat.h>

#include "console.h"
#include "verify_list.h"
#include "options.h"
#include "pack_files.h"
#include "unpack.h"

namespace {

const char* const version_text = "vorb " VORB_VERSION_STRING "\n";

const char* const help_text =
    "Usage: vorb [OPTION...] COMMAND ARCHIVE [FILE...]\n"
    "Block-sorting file archiver.\n"
    "\n"
    "Commands (only the first letter counts):\n"
    "  e ARCHIVE FILE...  pack the files into ARCHIVE (an existing one is replaced)\n"
    "  d ARCHIVE [NAME...]  unpack every member (or those named) as \"_\" + its stored name\n"
    "  t ARCHIVE [NAME...]  test: decode every member (or those named), write nothing\n"
    "  l ARCHIVE [NAME...]  list members with unpacked and packed sizes\n"
    "\n"
    "Options (before the command):\n"
    "  -t N, --threads=N     worker threads; 0 (the default) uses every core.\n"
    "                        The archive is the same for every thread count.\n"
    "  -b N, --block-size=N  block size in MiB for packing, 1 to 127 (default 4)\n"
    "  -C DIR, --directory=DIR  unpack into DIR (which must exist)\n"
    "  -q, --quiet           no banner, progress or times; errors are still shown\n"
    "  -i, --index           packing: write an index after the last entry, with\n"
    "                        checksums, sizes, file modes and times, so d and t\n"
    "                        check every member, d decodes one member on every\n"
    "                        thread and l reads no member\n"
    "  -h, --help            show this help\n"
    "  -V, --version         show the version\n"
    "  --                    end of options\n"
    "\n"
    "Memory: packing takes about 5 bytes per block byte for each thread that\n"
    "sorts, plus 4 for the coder (about 37 MiB on one thread at the default\n"
    "4 MiB blocks); unpacking about 9 bytes per block byte of the archive's\n"
    "block size for each block in flight (threads + 1 of them when threaded).\n"
    "\n"
    "Exit status: 0 success; 255 (-1) usage error; 254 (-2) an archive or file\n"
    "could not be read or written, the archive is damaged, or a member was\n"
    "not unpacked.\n";

bool is_directory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int vorb_main(int argc, char** argv) {
    const uint64_t run_start = clock_ms();
    console_init();
    const Options opt = parse_options(argc, argv);
    if (opt.help) {
        std::fputs(help_text, stdout);
        return 0;
    }
    if (opt.version) {
        std::fputs(version_text, stdout);
        return 0;
    }
    Console con;
    con.quiet = opt.quiet;
    print_banner(con);
    if (!opt.error.empty()) fatal_error((opt.error + "\nTry 'vorb --help'.").c_str(), status_usage);
    const int args = argc - opt.first_arg;
    if (args < 2) fatal_error(usage_text, status_usage);
    const char* command = argv[opt.first_arg];
    const std::string archive = argv[opt.first_arg + 1];
    // After the archive: files to pack, or the members to unpack, test or list.
    const std::vector<std::string> names(argv + opt.first_arg + 2, argv + argc);

    RunResult r;
    switch (command[0]) {
    case 'e': {
        PackOptions p;
        p.archive = archive;
        p.files = names;
        p.block_size = opt.block_mib << 20;
        p.threads = resolve_threads(opt.threads);
        p.index = opt.index;
        r = pack_archive(p, con);
        break;
    }
    case 'd': {
        UnpackOptions u;
        u.archive = archive;
        u.directory = opt.directory;
        u.threads = resolve_threads(opt.threads);
        u.names = names;
        if (!u.directory.empty() && !is_directory(u.directory))
            r = run_failed("\nNot a directory: " + printable_name(u.directory));
        else
            r = unpack_archive(u, con);
        break;
    }
    case 't':
        r = test_archive(archive, names, resolve_threads(opt.threads), con);
        break;
    case 'l':
        r = list_archive(archive, names, con);
        break;
    default:
        break;  // any other command does nothing
    }
    if (r.status != 0) fatal_error(r.message.c_str(), r.status);
    if (!con.quiet) std::printf("\nTotal time: %lums", static_cast<unsigned long>(clock_ms() - run_start));
    return 0;
}
