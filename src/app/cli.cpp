#include "app/cli.h"

#include <cstdio>

#include "app/console.h"
#include "app/pack.h"
#include "app/unpack.h"

int vorb_main(int argc, char** argv) {
    const uint64_t run_start = clock_ms();
    console_init();
    Console con;
    print_banner(con);
    if (argc < 3) fatal_error(usage_text, status_usage);

    RunResult r;
    switch (argv[1][0]) {
    case 'e': {
        PackOptions opt;
        opt.archive = argv[2];
        opt.files.assign(argv + 3, argv + argc);
        r = pack_archive(opt, con);
        break;
    }
    case 'd': {
        UnpackOptions opt;
        opt.archive = argv[2];
        r = unpack_archive(opt, con);
        break;
    }
    default:
        break;  // any other command does nothing
    }
    if (r.status != 0) fatal_error(r.message.c_str(), r.status);
    if (!con.quiet) std::printf("\nTotal time: %lums", static_cast<unsigned long>(clock_ms() - run_start));
    return 0;
}
