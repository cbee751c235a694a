// The program as a user runs it: arguments, exit statuses, console text and
// the files left behind, one table row per situation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fnmatch.h>
#include <mutex>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

#include "cli/file_io.h"
#include "cli/options.h"
#include "cli/unpack.h"
#include "support/archive_bytes.h"
#include "support/cli_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define VORB_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VORB_TEST_ASAN 1
#endif
#endif

namespace {

namespace fs = std::filesystem;

#ifdef VORB_TEST_ASAN
constexpr bool asan = true;  // needs more address space than a memory limit leaves
#else
constexpr bool asan = false;
#endif

// The banner and the usage text as the program prints them.
const std::string B = "Vorb v0.30beta\tblock-sorting file archiver";
const std::string U = "\nCall format:\nvorb [e|d] <arch> [<file1> ...]\nDefault block size = 4Mb";
const std::string H = "21766f726200004000";  // an archive's first bytes at 4 MiB blocks, in hex
// root may write anywhere: a run that must be refused goes as nobody then.
const std::string as_user = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";

struct Case {
    const char* what;
    std::string script;      // run in a fresh folder; "vorb" is the program, $D the shared data
    int status;              // the script's exit status
    std::string says;        // its standard output, whole; "*" stands for any text
    std::string after;       // the folder's files afterwards, all levels, sorted
    std::string check = "";  // shell run afterwards that must succeed
    bool run = true;         // false where this build or machine cannot run it
};

// Shared inputs, made once: text t and big (five 1 MiB blocks), random r
// and R (more than a file size limit of 100 blocks), archives no packer writes.
const ScratchDir& data() {
    static ScratchDir d;
    static const bool made = [] {
        write_file(d / "t", text_like(1, 300000));
        write_file(d / "r", random_bytes(2, 5000));
        write_file(d / "R", random_bytes(3, 200000));
        write_file(d / "big", text_like(4, 4200000));
        Bytes absent = archive_of({{"e1", empty_stream}, {"", {}, false}, {"e2", empty_stream}});
        absent[19] = 0x01;  // e2's presence byte: anything but 0xFF is present
        write_file(d / "absent", absent);
        write_file(d / "maxblock", archive_of({{"e", empty_stream}}, 0x07FFFFFF));
        return true;
    }();
    (void)made;
    return d;
}

// The whole of s against pattern, in which "*" stands for any run of characters.
bool matches(const std::string& s, const std::string& pattern) {
    std::string escaped;
    for (char c : pattern) {
        if (c != '*') escaped += '\\';
        escaped += c;
    }
    return ::fnmatch(escaped.c_str(), s.c_str(), 0) == 0;
}

std::string tree(const std::string& root) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root)) names.push_back(e.path().lexically_relative(root));
    std::sort(names.begin(), names.end());
    std::string all;
    for (const std::string& n : names) all += (all.empty() ? "" : " ") + n;
    return all;
}

// run_script with $D, $H and two helpers: hex FILE prints its bytes in hex,
// flip FILE OFFSET changes one bit of the byte there.
CliResult run_in(const ScratchDir& dir, const std::string& script) {
    return run_script(dir, "D=" + shell_quote(data().path) + " H=" + H +
                               "\nhex() { od -An -v -tx1 \"$1\" | tr -d ' \\n'; }"
                               "\nflip() { b=$(od -An -tu1 -j\"$2\" -N1 \"$1\"); printf \"$(printf '\\\\%03o' "
                               "$((b ^ 4)))\" | dd of=\"$1\" bs=1 seek=\"$2\" conv=notrunc 2>/dev/null; }\n" +
                               script);
}

void run_cases(const std::vector<Case>& cases) {
    std::string not_run;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.run) {
            not_run += std::string(" ") + c.what + ";";
            continue;
        }
        ScratchDir dir;
        const CliResult r = run_in(dir, c.script);
        EXPECT_EQ(r.status, c.status) << r.output;
        EXPECT_TRUE(matches(r.output, c.says)) << "said:\n" << r.output << "\nwanted:\n" << c.says;
        EXPECT_EQ(tree(dir.path), c.after);
        if (c.check.empty()) continue;
        const CliResult k = run_in(dir, c.check);
        EXPECT_EQ(k.status, 0) << c.check << "\n" << k.output;
    }
    if (!not_run.empty()) GTEST_SKIP() << "not run here:" << not_run;
}

TEST(Cli, ArgumentsAndUsage) {
    run_cases({
        {"help and version", "vorb -h >h1 && vorb --help >h2 && cmp h1 h2 && grep -q '^Usage: vorb' h1 &&"
                             " grep -q '^Exit status' h1 && vorb --version", 0, "vorb 0.30beta\n", "h1 h2"},
        {"unknown option", "vorb -y e a", 255, B + "\nUnknown option: -y\nTry 'vorb --help'.", ""},
        {"too few arguments; no command on a terminal is no filter",
         "{ script -qec \"'$VORB'\" /dev/null; echo \" $?\"; } | tr -d '\\r'; vorb -q e", 255,
         B + U + " 255\n" + U, ""},
        {"unknown command letters touch nothing", "echo data >f; vorb -- x arch f; echo \" $?\"; vorb -- - arch f",
         255, B + "\nUnknown command: x" + U + " 255\n" + B + "\nUnknown command: -" + U, "f"},
        {"only the first letter counts; quiet shows errors only",
         "cp \"$D\"/t f && vorb -q extract arch f && vorb -q dump arch && cmp f _f; vorb -q d nothere", 254,
         "\nCan't open input: nothere: No such file or directory", "_f arch f"},
        {"-c is for d only", "vorb -c e arch f", 255, B + "\nOption -c works with d only", ""},
    });
}

TEST(Cli, ArchiveBytesAndMemberLines) {
    run_cases({
        {"no members: the ten-byte archive, not over an existing file",
         "vorb e arch; echo \" $?\"; vorb d arch; echo \" $?\"; vorb extract arch", 255,
         B + "\nTotal time: *ms 0\n" + B + "\nTotal time: *ms 0\n" + B +
             "\nWon't replace arch: it exists and no files to pack were given (use -f to replace it)",
         "arch", "test $(hex arch) = ${H}00"},
        {"one empty file", ": >a; vorb e arch a", 0, B + "\n>a: \t*ms\nTotal time: *ms", "a arch",
         "test $(hex arch) = ${H}0100610000000000"},
        {"each block shows its sort, one by one and threaded",
         "cp \"$D\"/big a; vorb -b1 -t1 e one a; vorb -b1 -t2 e two a", 0,
         B + "\n>a: D\bWD\bWD\bWD\bWD\bW\t*ms\nTotal time: *ms" + B +
             "\n>a: D\bWD\bWD\bWD\bWD\bW\t*ms\nTotal time: *ms",
         "a one two"},
        {"missing files are absent entries and fail the run", ": >b; vorb e arch nothere b alsonot", 254,
         B + "\nnothere: not packed, No such file or directory\n>b: \t*ms\nalsonot: not packed, No such file or "
             "directory\n2 files were not packed",
         "arch b", "test $(hex arch) = ${H}03ff00620000000000ff"},
        {"a folder is its files", "mkdir sub; : >sub/x; : >a; vorb e arch sub/ a; rm a; vorb -q d arch", 0,
         B + "\n>sub/x: \t*ms\n>a: \t*ms\nTotal time: *ms", "_a _sub _sub/x arch sub sub/x",
         "test $(hex arch) = ${H}02007375622f78000000000000610000000000"},
        {"empty and absent members", "cp \"$D\"/absent arch && vorb d arch", 0,
         B + "\n>_e1: \t*ms\n>_e2: \t*ms\nTotal time: *ms", "_e1 _e2 arch", "test ! -s _e1 && test ! -s _e2"},
        {"archive that cannot be opened", "vorb d nothere", 254,
         B + "\nCan't open input: nothere: No such file or directory", ""},
        {"files that are not archives",
         "printf '' >a; printf '!vor' >b; printf '!vorc\\0\\0@\\0\\0' >c; for f in a b c; do vorb -q d $f; echo \" "
         "$?\"; done",
         0, "\nInvalid signature: a: not an archive 254\n\nInvalid signature: b: not an archive 254\n"
            "\nInvalid signature: c: not an archive 254\n",
         "a b c"},
        {"archive in a missing folder", "vorb e no/such/dir/arch", 254,
         B + "\nCan't open output: no/such/dir/arch: No such file or directory", ""},
    });
}

TEST(Cli, TestListAndIndex) {
    run_cases({
        {"t checks every member and writes nothing", "cp \"$D\"/t a; : >b; vorb -q e arch a gone b; vorb t arch", 0,
         "\ngone: not packed, No such file or directory\n1 file was not packed" + B +
             "\n>_a: H\t300000 bytes OK\t*ms\n>_b: \t0 bytes OK\t*ms\nTotal time: *ms",
         "a arch b"},
        {"t of a cut archive and of one with bytes after it",
         "cp \"$D\"/t a; vorb -q e arch a; head -c -3 arch >cut; cp arch extra; echo >>extra; vorb -q t cut; echo \" "
         "$?\"; vorb -q t extra",
         254, "\nDamaged archive: * 254\n\nDamaged archive: bytes follow the last member", "a arch cut extra"},
        {"l: sizes, absent entries, names made printable",
         "head -c 2200000 \"$D\"/big >text; : >empty; n=$(printf 'we\\033[1mird'); echo x >$n;"
         " vorb -q -b1 e arch text missing empty $n; vorb -q l arch",
         0, "\nmissing: not packed, No such file or directory\n1 file was not packed    unpacked       packed  ratio  "
            "name\n     2200000 * text\n           -            -      -  (absent entry)\n           0            "
            "4      -  empty\n           2 * we?[1mird\n     2200002 * 3 of 4 entries present, block size 1048576, "
            "not indexed",
         "arch empty text we\x1b[1mird",
         // The packed sizes add up to the archive less its header, names and presence bytes.
         "test $(($(vorb -q l arch | tail -1 | awk '{print $2}') + 10 + 6 + 1 + 7 + 11)) = $(stat -c %s arch)"},
        {"index: list, test, pipes, selection, modes and times",
         "cp \"$D\"/t a; : >b; chmod 6751 a; touch -d @1000000000.123456789 a; vorb -q -i e arch a missing b a;"
         " vorb -q l arch a missing && vorb t arch && cat arch | vorb -q t - && { (cat arch; echo x) | vorb -q t -;"
         " echo \" $?\"; } && mkdir o && cd o && vorb -q d ../arch nothere a b",
         254, "*\n1 file was not packed*  300000 *(absent: missing)\n*2 of 4 entries present, block size 4194304, "
              "indexed (version 2, consistent)" + B + "\n>_a: H\t300000 bytes OK, checksum OK\t*ms\n>_b: \t0 bytes OK, "
              "checksum OK\t*ms\n>_a: H\t300000 bytes OK, checksum OK\t*ms\nTotal time: *ms\nDamaged archive: * 254\n"
              "\nNo member named nothere",
         "a arch b o o/_a o/_b",
         "cmp a o/_a && test ! -s o/_b && test \"$(stat -c '%a %.9Y' o/_a)\" = '751 1000000000.123456789'"},
        {"index: damage in a member, in the index, after the last entry",
         "cp \"$D\"/t a; : >b; vorb -q -i e arch a b; vorb -q e plain a b; for f in member index extra; do mkdir $f;"
         " cp arch $f/arch; done; flip member/arch 40; flip index/arch $(($(stat -c %s arch) - 50)); cp plain "
         "extra/arch; echo >>extra/arch; for f in member index extra; do cd $f; vorb -q t arch; echo \" $?\"; vorb "
         "-q d arch; echo \" $?\"; cd ..; done",
         0, "\n_a: damaged: *\nDamaged archive: 1 member is damaged 254\n\n_a: not unpacked, damaged: *\n1 member "
            "was not unpacked 254\n\nDamaged index (index checksum mismatch): the archive was read without it 254\n"
            "\nDamaged index (index checksum mismatch): the archive was read without it 254\n\nDamaged archive: "
            "bytes follow the last member 254\n\nDamaged archive: bytes follow the last member 254\n",
         "a arch b extra extra/_a extra/_b extra/arch index index/_a index/_b index/arch member member/_b "
         "member/arch plain",
         "cmp a index/_a && cmp a extra/_a"},
        {"index: damage is located to its block; -- after the archive ends the options",
         "head -c 3145728 \"$D\"/big >f; vorb -q -b1 -i e arch -- f; flip arch $(($(stat -c %s arch) / 2)); vorb -q t arch;"
         " echo \" $?\"; vorb -q d arch -- f; echo \" $?\"",
         0, "\n_f: damaged: * in bytes 1048576 to 2097151\nDamaged archive: its bytes do not match the checksum in"
            " its index\nDamaged archive: 1 member is damaged 254\n\n_f: not unpacked, damaged: * in bytes 1048576 to"
            " 2097151\nDamaged archive: its bytes do not match the checksum in its index\n1 member was not unpacked"
            " 254\n",
         "arch f"},
        {"index from a pipe: checked at the end against what passed",
         "cp \"$D\"/t a; vorb -q -i e arch a; cp arch name; printf X | dd of=name bs=1 seek=11 conv=notrunc 2>/dev/null;"
         " cp arch index; flip index $(($(stat -c %s arch) - 45)); cat name | vorb -q -c d - 2>&1 >out; echo \" $?\"; cmp"
         " out a && for f in name index; do cat $f | vorb -q t -; echo \" $?\"; done; cat arch | vorb -q l - | grep -o"
         " '(version.*'",
         0, "\nDamaged archive: member X: its stored name differs from the index at the archive's end 254\n"
            "\nDamaged archive: member X: its stored name differs from the index at the archive's end 254\n"
            "\nDamaged index (index checksum mismatch): the archive was read without it 254\n(version 2, matches the"
            " archive)\n",
         "a arch index name out"},
        {"text that cannot go to standard output fails the run",
         "cp \"$D\"/r a; vorb -q -i e arch a; for c in -h -V '-q l arch' 't arch'; do vorb $c 2>&1 >/dev/full; echo \""
         " $?\"; done | grep -c '^Write error on standard output: No space left on device 254$'; vorb -q t arch >/dev/full",
         0, "4\n", "a arch"},
    });
}

TEST(Cli, RecoveryRecord) {
    const std::string repairable = "The damage is repairable with vorb r (";
    const std::string zero3000 = "dd if=/dev/zero of=arch bs=1 seek=1000 count=3000 conv=notrunc 2>/dev/null; ";
    run_cases({
        {"-r: an index, then a record; readers take what is in front of it, from a file or a pipe",
         "cp \"$D\"/t a; cp \"$D\"/r b; vorb -q -i e plain a b && vorb -q -r 5 e arch a b && cmp -n $(stat -c %s "
         "plain) arch plain && vorb r arch && vorb t arch | grep -a Recovery && vorb -q l arch | tail -c 60 && cat arch | "
         "vorb -q t - && mkdir o && cd o && cat ../arch | vorb -q d - && cmp _a ../a && vorb -q d ../arch",
         0, B + "\narch: undamaged, recovery record of 5 % intact\nTotal time: *msRecovery record (5 %): intact\n"
                "*, indexed (version 2, consistent), recovery record 5 %",
         "a arch b o o/_a o/_b plain"},
        {"r: damage within reach comes back byte for byte, mode kept; beyond it the archive is left as it was",
         "cp \"$D\"/t a; vorb -q -r 5 e arch a; chmod 640 arch; cp arch orig; " + zero3000 +
             "vorb -q t arch; echo \" $?\"; vorb -q d arch; echo \" $?\"; vorb -q r arch && cmp arch orig && test "
             "$(stat -c %a arch) = 640 && dd if=/dev/zero of=arch bs=1 seek=1000 count=40000 conv=notrunc "
             "2>/dev/null && cp arch kept && vorb -q r arch; echo \" $?\"; cmp arch kept",
         0, "*" + repairable + "* damaged units in front of the record, 0 in it) 254\n*not unpacked*" + repairable +
                "*) 254\n\nDamaged archive: arch: * stripes than they have parity: beyond what the recovery record "
                "can repair; the archive is left as it was (vorb --salvage d saves what is intact) 254\n",
         "a arch kept orig"},
        {"a cut tail: members unpacked, the record reported, r restores it",
         "cp \"$D\"/t a; vorb -q -r 5 e arch a; cp arch orig; head -c -2000 orig >arch; vorb -q d arch; echo \" $?\";"
         " cmp _a a && cat arch | vorb -q t -; echo \" $?\"; vorb -q r arch && cmp arch orig",
         0, "\nDamaged recovery record: one of its two header copies is lost\n" + repairable +
                "0 damaged units in front of the record, * in it*) 254\n\nDamaged recovery record: one of its two "
                "header copies is lost 254\n",
         "_a a arch orig"},
        {"refused: -r to standard output or a device, r on a pipe, with names, without a record",
         "cp \"$D\"/r a; vorb -q e plain a; vorb -q -r 5 e - a 2>&1; echo \" $?\"; vorb -q -r5 e /dev/null a; echo \" $?\";"
         " vorb -q r - <plain; echo \" $?\"; vorb -q r plain a; echo \" $?\"; vorb -q r plain",
         254, "\nOption -r needs an archive file: the record is made from the archive read back, which standard "
              "output cannot be 255\n\nOption -r needs a regular file as the archive: /dev/null is not one 255\n\n"
              "vorb r needs an archive file, not standard input 255\n\nvorb r repairs a whole archive: no member "
              "names after it 255\n\nplain: no recovery record, nothing to repair it with (vorb --salvage d saves "
              "what is intact)",
         "a plain"},
    });
}

TEST(Cli, BlockSizesFoldersPipesAndTerminals) {
    run_cases({
        {"block sizes: 4 MiB unless given; each is stored and round-trips",
         "head -c 1300000 \"$D\"/big >f && vorb -q e plain f && for b in 1 127; do"
         " test $(od -An -tu4 -j5 -N4 plain) = 4194304 && vorb -q -b $b e a$b f && test $(od -An -tu4 -j5 -N4 a$b)"
         " = $((b << 20)) && mkdir o$b && cd o$b && vorb -q d ../a$b && cmp _f ../f && cd .. || exit 1; done",
         0, "", "a1 a127 f o1 o1/_f o127 o127/_f plain"},
        {"-C DIR: members' folders are made inside it; DIR must exist",
         "mkdir -p src/sub out; echo hello >src/sub/x; vorb -q e arch src/sub/x && vorb -q -C out d arch && cmp "
         "out/_src/sub/x src/sub/x && vorb -C nothere d arch",
         254, B + "\nNot a directory: nothere", "arch out out/_src out/_src/sub out/_src/sub/x src src/sub src/sub/x"},
        {"- is a pipe; the console then goes to standard error",
         "cp \"$D\"/t f; cp \"$D\"/r g; vorb -q e ref f g && vorb e - f g 2>console | cat >piped && cmp piped ref"
         " && grep -q '>f: ' console && cat ref | vorb -c d - 2>console | cat >both && cat f g | cmp - both && grep"
         " -q '>_g: ' console && vorb -q t - <ref && vorb -q l - <ref",
         0, "    unpacked*2 of 2 entries present, block size 4194304, not indexed",
         "both console f g piped ref"},
        {"standard input is the caller's: never read after an error",
         "printf 'one\\ntwo\\n' | { vorb -q t nothere; echo \" $?\"; cat; }", 0,
         "\nCan't open input: nothere: No such file or directory 254\none\ntwo\n", ""},
        {"no archive to or from a terminal",
         "echo data >f; script -qec \"'$VORB' -q e - f\" /dev/null; echo \" $?\"; script -qec \"'$VORB' -q t -\" "
         "/dev/null; echo \" $?\"",
         0, "*Won't write an archive to a terminal (use -f to force it) 255\n*Won't read an archive from a terminal*"
            " 255\n",
         "f"},
        {"--memory: fewer blocks in flight, or none fits (indexed: every worker decodes at once)",
         "cp \"$D\"/big f; vorb -q -b1 -i e arch f; vorb -q --memory=8M d arch; echo \" $?\"; test ! -e _f &&"
         " a=$(/usr/bin/time -f %M \"$VORB\" -q -t4 d arch 2>&1) && b=$(/usr/bin/time -f %M \"$VORB\" -q -t4 "
         "--memory=12M d arch 2>&1) && cmp f _f && test $((a - b)) -gt 18432",
         0, "\nNot enough memory allowed: the archive's blocks of 1048576 bytes take * MiB to unpack, over the limit"
            " of 8 MiB (--memory) 254\n",
         "_f arch f", "", fs::exists("/usr/bin/time")},
        {"--memory: the limit as given", "echo x >f; vorb -q -b1 e arch f; vorb -q --memory=1K t arch; vorb -q"
         " --memory=1000 t arch", 254, "\n* over the limit of 1 KiB (--memory)\n* over the limit of 1000 bytes (--memory)",
         "arch f"},
    });
}

// A tree of about 200 files in nested folders, names with spaces, a newline,
// bytes that are no UTF-8 and a leading dash, made in an order no file
// system lists sorted; a link that leads out, an empty folder and a FIFO.
const std::string make_tree =
    "mkdir -p proj/src/deep/er proj/docs 'proj/with space' proj/empty && for i in $(seq 150 -1 1); do echo $i"
    " >proj/src/f$i.c; done && for i in $(seq 40); do head -c $((i * 97)) \"$D\"/t >proj/src/deep/er/g$i; done &&"
    " printf x >'proj/with space/a b' && printf y >\"proj/docs/$(printf 'new\\nline')\" && printf z >proj/docs/-d &&"
    " printf w >\"proj/docs/$(printf '\\377\\376')\" && ln -s ../../outside proj/docs/link && mkfifo proj/fifo &&"
    " chmod 750 proj/docs && chmod 640 proj/src/f7.c && touch -hd @1000000000.5 proj/docs/link && touch -d"
    " @1200000000.25 proj/src/deep/er proj/src/deep 'proj/with space' proj/empty proj/docs proj/src proj\n";
// Each path under a folder with its mode, time and link text, for comparing
// trees beyond what diff -r sees.
const std::string attributes = "attrs() { (cd \"$1\" && find . ! -type p -printf '%P %m %T@ %l\\n' | sort); }\n";

TEST(Cli, FoldersLinksAndNodes) {
    run_cases({
        {"a plain archive names what it cannot hold; the files come back in byte order at any -t",
         make_tree + "vorb -q -t1 e x proj; echo \" $?\"; vorb -q -t3 e x3 proj >/dev/null; cmp x x3 && mkdir o &&"
         " cd o && vorb -q d ../x && cd .. && diff -r --no-dereference proj o/_proj; test \"$(vorb -q l x | grep -o"
         " 'f[0-9]*[.]c$')\" = \"$(ls proj/src | grep '^f' | LC_ALL=C sort)\" && rm -r proj o x3",
         0, "\nproj/docs/link: not packed, a symbolic link (-i keeps it in the index)\nproj/empty: not packed, an"
            " empty folder (-i keeps it in the index)\nproj/fifo: not packed, a FIFO\n3 files were not packed 254"
            "\nOnly in proj/docs: link\nOnly in proj: empty\nOnly in proj: fifo\n",
         "x"},
        {"-i: links, empty folders and folders' modes and times come back",
         make_tree + attributes + "vorb -q -t1 -i e x proj; echo \" $?\"; vorb -q -t3 -i e x3 proj >/dev/null;"
         " cmp x x3 && mkdir o && cd o && vorb -q d ../x && cd .. && diff -r --no-dereference proj o/_proj;"
         " attrs proj >a && attrs o/_proj >b && cmp a b && test -L o/_proj/docs/link && rm -r proj o x3 a b",
         0, "\nproj/fifo: not packed, a FIFO\n1 file was not packed 254\nOnly in proj: fifo\n", "x"},
        {"more than 255 files, or a name too long, inside a folder: refused before anything is written",
         "mkdir many && for i in $(seq 255); do : >many/$i; done && : >one && echo older >x && vorb e x many one;"
         " echo \" $?\"; l=$(printf 'd%.0s' $(seq 190)); mkdir -p $l/sub && : >$l/sub/file && vorb -q e y $l; echo"
         " \" $?\"; rm -r many $l one; cat x",
         0, B + "\nToo many files: 256, an archive holds at most 255; pack a larger tree through tar: tar -I vorb -cf"
                " NAME.tar.vorb DIR 254\n\nFile name longer than 198 characters: " + std::string(190, 'd') +
                "/sub/file 254\nolder\n",
         "x"},
    });
}

// Nodes no packer writes, through the library: names that lead out or pass a
// link, a link where a folder is and one over a member. Member m is empty.
void write_node_archive(const std::string& path, const std::vector<vorb_node>& nodes) {
    std::vector<uint8_t> bytes;
    const vorb_write_fn put = [](void* ctx, const void* p, size_t n) {
        auto& v = *static_cast<std::vector<uint8_t>*>(ctx);
        v.insert(v.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
        return 0;
    };
    const vorb_read_fn none = [](void*, void*, size_t) -> ptrdiff_t { return 0; };
    const vorb_pack_options po{0, 1, 1};
    vorb_writer* w = vorb_writer_create(put, &bytes, &po, nullptr);
    ASSERT_EQ(vorb_writer_begin(w, 1), VORB_OK);
    ASSERT_EQ(vorb_writer_add_member(w, "m", none, nullptr, nullptr, nullptr, nullptr, nullptr), VORB_OK);
    for (const vorb_node& n : nodes) ASSERT_EQ(vorb_writer_add_node(w, &n), VORB_OK) << n.path;
    ASSERT_EQ(vorb_writer_finish(w), VORB_OK);
    vorb_writer_free(w);
    write_file(path, bytes);
}

TEST(Cli, HostileNodes) {
    const vorb_file_meta shut{0500, 0, 1000000000};
    ScratchDir arc;
    write_node_archive(arc / "nodes", {{VORB_NODE_FOLDER, "a/b", nullptr, &shut},
                                       {VORB_NODE_FOLDER, "c/../../up", nullptr, nullptr},
                                       {VORB_NODE_LINK, "a", "/tmp", nullptr},
                                       {VORB_NODE_LINK, "l", "../../../etc", nullptr},
                                       {VORB_NODE_LINK, "l/inner", "x", nullptr},
                                       {VORB_NODE_LINK, "m", "elsewhere", &shut}});
    run_cases({{"nodes never lead out nor through a link; links are never followed",
                "vorb -q d " + shell_quote(arc / "nodes") + "; echo \" $?\"; vorb -q d " + shell_quote(arc / "nodes") +
                    " l m; echo \" $?\"",
                0, "\n_c/../../up: not restored, name leads out of the unpack directory\n_a: not restored, a folder is"
                   " in its place\n_l/inner: not restored, a folder in its name is a symbolic link\n3 folders or links"
                   " were not restored 254\n 0\n",
                "_a _a/b _l _m",
                "test \"$(readlink _l)\" = ../../../etc && test \"$(readlink _m)\" = elsewhere && test"
                " \"$(stat -c '%a %Y' _a/b)\" = '500 1000000000' && test \"$(stat -c %Y _m)\" = 1000000000"}});
}

// Standard input as a member, and the filter tar drives: standard input to
// standard output, packing or (-d) unpacking, nothing else said.
TEST(Cli, FilterModeAndStandardInput) {
    run_cases({
        {"filter: the bytes of -i e - -, indexed, nothing on standard error",
         "cp \"$D\"/t f; vorb <f >x 2>err && vorb -q -i --name=stdin e - - <f | cmp - x && vorb -d <x 2>>err | cmp -"
         " f && cat x | vorb -d | cmp - f && test ! -s err && vorb -q l x",
         0, "*300000 * stdin\n*indexed (version 2, consistent)", "err f x"},
        {"filter: -t, -b, --name and --no-index apply; packing options are ignored after -d",
         "cp \"$D\"/big f; vorb -t2 -b1 --no-index --name=n <f >x && vorb -q -b1 --name=n e - - <f | cmp - x &&"
         " vorb -t2 -b8 -i --name=z -f --no-index -d <x | cmp - f && vorb -dc <x | cmp - f && printf 12345 >y && cat"
         " x >>y && { dd bs=5 count=1 of=/dev/null 2>/dev/null && vorb -d; } <y | cmp - f",
         0, "", "f x y"},
        {"filter: a terminal on standard output is refused without -f; none on standard input is the usage",
         "echo data >f; { script -qec \"'$VORB' <f\" /dev/null; echo \" $?\"; script -qec \"'$VORB' -f <f\" /dev/null"
         " | head -c 5; script -qec \"'$VORB' -d\" /dev/null; echo \" $?\"; } | tr -d '\\r'",
         0, "\nWon't write an archive to a terminal (use -f to force it) 255\n!vorb\nWon't read an archive from a"
            " terminal* 255\n",
         "f"},
        {"filter: an early reader ends it by SIGPIPE, even one the caller ignores; damage is -2",
         "cp \"$D\"/big f; vorb <f >x; { trap '' PIPE; vorb -d <x; echo $? >st; } | head -c 100 >/dev/null; cat st;"
         " flip x 3000;"
         " vorb -d <x 2>&1 >/dev/null; echo \" $?\"; cat x | vorb -d 2>&1 >/dev/null; echo \" $?\"; vorb <f >n;"
         " flip n 15; cat n | vorb -d 2>&1 >/dev/null; echo \" $?\"",
         0, "141\n\n_stdin: not unpacked, damaged: *\n1 member was not unpacked 254\n\nDamaged archive: * 254\n"
            "\nDamaged archive: member stdij: its stored name differs from the index at the archive's end 254\n",
         "f n st x"},
        {"- among files: standard input under its name, only once",
         "cp \"$D\"/r f; printf piped | vorb -q e a f - && printf x | vorb -q --name=-n e b - && vorb e c - f -; echo"
         " \" $?\"; mkdir o && cd o && vorb -q d ../a && vorb -q d ../b && cmp _f ../f && cat _stdin _-n",
         0, B + "\nStandard input (-) can be packed only once 255\npipedx", "a b f o o/_-n o/_f o/_stdin"},
        {"VORB_OPTIONS: options before the command line's, nothing else",
         "cp \"$D\"/r f; VORB_OPTIONS='-i  -b1' vorb -q e a f && vorb -q l a | tail -1; echo; VORB_OPTIONS=-i"
         " vorb -q --no-index e b f && vorb -q l b | tail -1; VORB_OPTIONS='-q e' vorb e c f; echo \" $?\";"
         " VORB_OPTIONS='-q --' vorb e c f; echo \" $?\"; VORB_OPTIONS=-t vorb -q e c f; echo \" $?\"",
         0, "* block size 1048576, indexed (version 2, consistent)\n* block size 4194304, not indexed\nIn VORB_OPTIONS:"
            " Only options may be given, not e\nTry 'vorb --help'. 255\n\nIn VORB_OPTIONS: Only options may be given,"
            " not --\nTry 'vorb --help'. 255\n" + B + "\nIn VORB_OPTIONS: Option -t needs a value\nTry 'vorb"
            " --help'. 255\n",
         "a b f"},
    });
}

// GNU tar runs "sh -c PROG" to pack and PROG's words with -d appended to
// unpack. The tree is made on a memory file system where there is one:
// thousands of small files are slow to make on a disk.
TEST(Cli, DrivenByTar) {
    run_cases({
        {"tar -I vorb packs, lists and unpacks thousands of files; a damaged archive makes tar fail",
         "h=$(pwd); w=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d -p \"$h\") && cd \"$w\" && PATH=$(dirname "
         "\"$VORB\"):$PATH && for d in $(seq 25); do mkdir -p \"tree/d $d\" && for f in $(seq 100); do echo $d $f"
         " >\"tree/d $d/f$f\"; done; done && tar -I vorb -cf t.tar.vorb tree && tar -I vorb -tf t.tar.vorb | wc -l"
         " && mkdir o1 o2 o3 o4 && tar -I vorb -xf t.tar.vorb -C o1 && diff -r tree o1/tree && tar -I 'vorb -t2 -b8"
         " -i' -cf u.tar.vorb tree && tar -I 'vorb -t2 -b8 -i' -xf u.tar.vorb -C o2 && diff -r tree o2/tree &&"
         " tar -cf - tree | vorb >x && vorb -d <x | tar -xf - -C o3 && diff -r tree o3/tree && flip x 2000 && tar"
         " -I vorb -xf x -C o4 2>&1; echo \" $?\"; cd \"$h\" && rm -rf \"$w\"",
         0, "2526\n*Child returned status 254* 2\n", ""},
    });
}

// Refused or failed runs leave every existing file as it was, no partial
// file and no temporary, and name the file and the reason.
TEST(Cli, RefusalsAndFailuresKeepFiles) {
    const std::string n198(198, 'n');
    run_cases({
        {"replacing: never a file that is no archive; modes and owner kept; links followed",
         "umask 022; cp \"$D\"/r f; printf 'my notes' >notes.txt; vorb -q e notes.txt f; echo \" $?\"; cat notes.txt;"
         " chmod 600 notes.txt; if [ $(id -u) = 0 ]; then chown 65534:65534 notes.txt; fi; vorb -q -f e notes.txt f"
         " && vorb -q e notes.txt f && vorb -q e " + std::string(245, 'a') + " f && mkdir sub && ln -s sub/new link"
         " && vorb -q e link f",
         0, "\nWon't replace notes.txt: it exists and is not an archive (use -f to replace it) 255\nmy notes",
         std::string(245, 'a') + " f link notes.txt sub sub/new",
         "test $(stat -c %a notes.txt) = 600 && test $(stat -c %a sub/new) = 644 && { [ $(id -u) != 0 ] || test "
         "$(stat -c %u:%g notes.txt) = 65534:65534; } && test -L link && cmp sub/new notes.txt"},
        {"the archive is one of the inputs, by any name",
         "cp \"$D\"/t data; echo other >other; ln data hard; ln -s data soft; vorb -q e data other data; echo \" $?\";"
         " vorb -q e data ./data; echo \" $?\"; vorb -q e hard other data; echo \" $?\"; vorb -q e soft data; echo"
         " \" $?\"; vorb -q e data soft",
         254, "\nThe archive is one of the files to pack: data 254\n\nThe archive is one of the files to pack: ./data"
              " 254\n\nThe archive is one of the files to pack: data 254\n\nThe archive is one of the files to pack:"
              " data 254\n\nThe archive is one of the files to pack: soft",
         "data hard other soft", "cmp data \"$D\"/t && test -L soft"},
        {"at most 255 files", "echo older >arch; vorb e arch $(seq -f f%g 0 255); echo \" $?\"; cat arch; vorb -q -f"
         " e arch $(seq -f f%g 0 254)",
         254, B + "\nToo many files: 256, an archive holds at most 255; pack a larger tree through tar: tar -I vorb "
                  "-cf NAME.tar.vorb DIR 254\nolder\n*\nf254: not packed, No such file or "
                  "directory\n255 files were not packed",
         "arch", "test $(hex arch) = ${H}ff$(printf 'ff%.0s' $(seq 255))"},
        {"names of at most 198 characters",
         "echo fits >" + n198 + "; echo no >" + n198 + "n; vorb e arch " + n198 + " " + n198 + "n; echo \" $?\"; vorb"
         " -q e arch " + n198 + " && rm " + n198 + " && vorb -q d arch && echo ok",
         0, B + "\nFile name longer than 198 characters: " + n198 + "n 254\nok\n",
         "_" + n198 + " arch " + n198 + "n", "test $(cat _" + n198 + ") = fits"},
        {"a file put where the archive goes, or over it, while packing is kept (-f: replaced); two packs leave one archive",
         "wait_temps() { for i in $(seq 6000); do test $(ls -A | grep -c '^[.]vorb') -ge $1 && return; sleep 0.01;"
         " done; }; mkfifo in1 in2; vorb -q e arch in1 & wait_temps 1; echo text >arch; echo one >in1; wait $!;"
         " echo \" $?\"; cat arch; vorb -qf e arch in2 & wait_temps 1; echo text >arch; echo two >in2; wait $!;"
         " head -c5 arch; echo one >f; vorb -q e arch f; vorb -q e arch in1 & wait_temps 1; echo text >arch;"
         " echo one >in1; wait $!; echo \" $?\"; cat arch; rm arch; vorb -q e arch in1 & a=$!; vorb -q e arch in2 &"
         " b=$!; wait_temps 2; echo one >in1; wait $a; echo \" $?\"; echo two >in2; wait $b; echo \" $?\";"
         " vorb -q t arch in2",
         0, "\nWon't replace arch: it changed while packing and is not an archive (use -f to replace it) 255\n"
            "text\n!vorb\nWon't replace arch: it changed while packing and is not an archive (use -f to replace it)"
            " 255\ntext\n 0\n 0\n",
         "arch f in1 in2"},
        {"read-only folder", "cp \"$D\"/r f; vorb -q e arch f; mkdir ro; chmod 555 ro; chmod o+rx .; " + as_user +
         "\"$VORB\" -q -C ro d arch; echo \" $?\"; " + as_user + "\"$VORB\" -q e ro/arch f",
         254, "\n_f: skipped, can't create it: Permission denied\n1 member was not unpacked 254\n"
              "\nCan't open output: ro/arch: Permission denied",
         "arch f ro"},
        {"full device as the archive: written to, never replaced", "cp \"$D\"/t m; vorb e /dev/full m", 254,
         B + "\n>m: *\nWrite error on /dev/full: No space left on device", "m",
         "test -c /dev/full && ! ls -a /dev | grep -q '^[.]vorb'"},
        {"archive write failure keeps the older archive",
         "echo older >arch; echo fits >small; cp \"$D\"/R big; trap '' XFSZ; ulimit -f 100; vorb -q -f e arch small "
         "big",
         254, "\nWrite error on arch: File too large", "arch big small", "test $(cat arch) = older"},
        {"member write failure keeps the older file",
         "head -c 3000 \"$D\"/t >first; cp \"$D\"/R big; echo last >last; vorb -q e arch first big last; rm first "
         "last; echo older >_big; trap '' XFSZ; ulimit -f 100; vorb -q d arch",
         254, "\nWrite error on _big: File too large", "_big _first arch big",
         "head -c 3000 \"$D\"/t | cmp - _first && test $(cat _big) = older"},
        {"read error in a file to pack",  // /proc/self/mem opens, then fails to read at offset 0
         "echo older >arch; head -c 5000 \"$D\"/t >before; vorb -q -f e arch before /proc/self/mem", 254,
         "\nRead error in /proc/self/mem: Input/output error", "arch before", "test $(cat arch) = older"},
        {"block size that cannot be allocated: no archive, no member, no temporary",
         "cp \"$D\"/maxblock arch; echo member >m; ulimit -v 400000; vorb d arch; echo \" $?\"; vorb -q -b 127 e new m",
         254, B + "\nNot enough memory for the archive's block size of 134217727 254\n\nNot enough memory for the block"
                  " size",
         "arch m", "", !asan},
    });
}

// --salvage d: what comes back of a damaged archive, and what is said of
// it. big is five blocks of 1 MiB; the sector zeroed at 600 lies in its
// second block, the one at 1500 in its fourth.
TEST(Cli, SalvageKeepsWhatDamageLeft) {
    const std::string pack = "cp \"$D\"/big big; cp \"$D\"/t t; cp \"$D\"/r r; ";
    const std::string zero = "dd if=/dev/zero bs=512 count=1 conv=notrunc 2>/dev/null of=";
    run_cases({
        {"intact: as d, status 0", pack + "vorb -q -b1 e arch big t r && mkdir o && vorb -C o --salvage d arch", 0,
         B + "\n>_big: HHHHH\t*ms\n>_t: H\t*ms\n>_r: H\t*ms\nTotal time: *ms", "arch big o o/_big o/_r o/_t r t",
         "cmp big o/_big && cmp t o/_t && cmp r o/_r"},
        {"plain: the blocks before the damage kept, the members after it found; a fuller file is not replaced",
         pack + "vorb -q -b1 e arch big t r && cp arch a2 && " + zero + "arch seek=1500 && " + zero +
             "a2 seek=600 && vorb -q --salvage d arch; echo \" $?\"; cp _big first; vorb -q --salvage d a2",
         254, "\n_big: *: its first 3145728 bytes were saved, but cannot be verified: a plain archive has no checksums"
              "\nLost: _big: everything from offset 3145728 (the member's size is unknown)\nDamaged archive: bytes * to *"
              " were passed over; the next entry was found at offset * by searching\nSalvage incomplete: 1 of 3 members"
              " damaged 254\n\n_big: *: its first 1048576 bytes were saved, but cannot be verified: a plain archive has"
              " no checksums; not written: _big exists and holds 3145728 bytes, more than the 1048576 saved\nLost: _big:"
              " everything from offset 1048576 (the member's size is unknown)\nDamaged archive: * by searching\n"
              "Salvage incomplete: 1 of 3 members damaged, 1 not written",
         "_big _r _t a2 arch big first r t", "cmp t _t && cmp r _r && cmp first _big && cmp -n 3145728 big _big"},
        {"indexed: the damaged block as zeros, the others verified; -c gives the same bytes",
         pack + "vorb -q -b1 -i e arch big t r && " + zero + "arch seek=600 && vorb -q --salvage d arch; echo \" $?\";"
             " vorb -q -c --salvage d arch >all 2>/dev/null; echo \" $?\"",
         0, "\n_big: damaged: 1048576 of 4200000 bytes lost, written as zeros; every other block passed its checksum"
            "\nLost: _big: 1048576 bytes at offset 1048576\nSalvage incomplete: 1 of 3 members damaged 254\n 254\n",
         "_big _r _t all arch big r t",
         "cmp t _t && cmp r _r && cat _big _t _r | cmp - all && cmp -l big _big | awk 'NR == 1 {f = $1} $3 != 0"
         " {bad = 1} END {exit bad || NR != 1048576 || f != 1048577}'"},
        {"a recovery record after the index: the archive in front of it is salvaged through its index",
         pack + "vorb -q -b1 -r 5 e arch big t r && " + zero + "arch seek=600 && vorb -q --salvage d arch", 254,
         "\n_big: damaged: 1048576 of 4200000 bytes lost, written as zeros; every other block passed its checksum"
         "\nLost: _big: 1048576 bytes at offset 1048576\nSalvage incomplete: 1 of 3 members damaged",
         "_big _r _t arch big r t", "cmp t _t && cmp r _r"},
        {"indexed: a damaged name as a numbered placeholder; a damaged index: salvaged as plain",
         pack + "vorb -q -b1 -i e arch t r && cp arch a2 && flip arch 11 && flip a2 $(($(stat -c %s a2) - 50)) &&"
             " vorb -q --salvage d arch; echo \" $?\"; mkdir o && vorb -q -C o --salvage d a2",
         254, "\n_damaged-name-1: its stored name is damaged (the entry checksum fails): written as _damaged-name-1"
              "\nSalvage incomplete: 1 of 2 members damaged 254\n\nDamaged index (index checksum mismatch): the archive"
              " is salvaged as a plain one\nSalvage incomplete: the archive is damaged, but every member found came back"
              " whole",
         "_damaged-name-1 _r a2 arch big o o/_r o/_t r t", "cmp t _damaged-name-1 && cmp t o/_t && cmp r _r"},
        {"refused: standard input, another command", "vorb -q --salvage d - </dev/null; echo \" $?\"; vorb -q --salvage t a",
         255, "\n--salvage reads the archive at offsets: give its file, not standard input 255\n\nOption --salvage works"
              " with d only", ""},
    });
}

// Many small blocks through every thread count: the case the thread
// sanitizer run checks, kept small so it stays quick under it. Blocks of
// 300 kB are large enough for idle workers to share a block's walks. From a
// pipe the indexed archive unpacks as a plain one.
TEST(Threads, SmallBlocksThroughThePipelines) {
    const std::string each = "\nDamaged archive: * 254\n\nWrite error on standard output: * 254\n";
    run_cases({{"same archive, same bytes, same failure on every thread count, from a file or a pipe",
                "head -c 1048593 \"$D\"/big >f; tail -c 1048577 \"$D\"/big >g; cat f g >fg; vorb -q -t2 -b3 -i e"
                " indexed f g && for t in 1 2 3 8; do vorb -q -t$t -b3 e a$t f g && cmp a1 a$t &&"
                " cmp -n $(stat -c %s a1) a1 indexed && rm -rf o && mkdir o && cd o && vorb -q -t$t d ../a$t &&"
                " cmp _f ../f && cmp _g ../g && vorb -q -t$t d ../indexed && cmp _f ../f && cmp _g ../g &&"
                " cat ../a$t | vorb -q -t$t -c d - | cmp - ../fg && cat ../indexed | vorb -q -t$t -c d - | cmp - ../fg &&"
                " head -c -100 ../a1 >bad && { vorb -q -t$t d bad; echo \" $?\"; } &&"
                " { vorb -q -t$t -c d ../a$t 2>&1 >/dev/full; echo \" $?\"; } && cd .. || exit 1; done",
                0, each + each + each + each, "a1 a2 a3 a8 f fg g indexed o o/_f o/_g o/bad"}});
}

// Ctrl-C, kill or a closed terminal in the middle of a large file: no
// temporary is left behind and the run ends by that signal.
TEST(Cli, SignalRemovesTemporaries) {
    ScratchDir dir;
    write_file(dir / "big", random_bytes(10, 24 << 20));
    ASSERT_EQ(run_in(dir, "head -c 3000000 \"$D\"/big >text && vorb -q -b1 e text.vorb text && rm text").status, 0);
    const struct {
        int sig;
        std::vector<std::string> args;
    } cases[] = {{SIGINT, {"-t1", "e", "big.vorb", "big"}},
                 {SIGTERM, {"-t1", "d", "text.vorb"}},
                 {SIGHUP, {"-t2", "e", "big.vorb", "big"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sig);
        std::vector<char*> argv = {const_cast<char*>(VORB_BIN)};
        for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null_fd = ::open("/dev/null", O_RDWR);
            for (int fd = 0; fd < 3; fd++) ::dup2(null_fd, fd);
            for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
            if (::chdir(dir.path.c_str()) == 0) ::execv(VORB_BIN, argv.data());
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        const auto has_temporary = [&] {
            const std::vector<std::string> names = list_dir(dir.path);
            return std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.starts_with(".vorb"); });
        };
        for (int wait_ms = 0; wait_ms < 10000 && !has_temporary(); wait_ms += 5) ::usleep(5000);
        ASSERT_TRUE(has_temporary());
        ::usleep(30000);  // inside the file, well before its end
        ::kill(pid, c.sig);
        int raw = 0;
        ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == c.sig) << raw;
        EXPECT_EQ(tree(dir.path), "big text.vorb");
    }
}

// A disk that fails under a member is a read error, not damage: the archive
// may be whole. No file fails that way on cue, so the message is asked for.
TEST(Cli, ReadErrorInsideAMemberIsNoDamage) {
    InFile arc;
    arc.error = EIO;
    EXPECT_EQ(member_error(VORB_ERR_READ, "m", arc, "_m", 0), "\nRead error in the archive: Input/output error");
}

// A pipe in packet mode hands over one write a read, so a short read is
// certain. A read fills what it is asked for from the packets waiting, but
// never waits long for a writer that has nothing more to give: one that
// waits for our output first would wait for ever. Should it wait, a
// watchdog writes one more packet and closes, and the count shows it.
TEST(Cli, PipeReadsFillTheBufferButDoNotWaitForTheWriter) {
    const struct {
        const char* what;
        std::vector<size_t> packets;  // written before the read, each one packet
        bool closed;                  // then the write end closed
        size_t ask, got;
    } rows[] = {
        {"packets waiting fill the buffer", {10, 10, 10}, false, 30, 30},
        {"no more than asked for", {10, 10, 10}, false, 20, 20},
        {"an open pipe with no more is handed on", {10, 10}, false, 40, 20},
        {"the end comes first", {10}, true, 40, 10},
        {"tiny packets make one read", {4, 4, 4, 4, 4, 4}, true, 24, 24},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_DIRECT), 0);
        std::vector<uint8_t> sent;
        for (size_t len : row.packets) {
            const size_t from = sent.size();
            for (size_t i = 0; i < len; i++) sent.push_back(static_cast<uint8_t>(from * 7 + i));
            ASSERT_EQ(::write(fds[1], sent.data() + from, len), static_cast<ssize_t>(len));
        }
        if (row.closed) ::close(fds[1]);
        std::mutex m;
        std::condition_variable cv;
        bool done = row.closed;  // the write end is closed
        std::thread watchdog([&] {
            std::unique_lock<std::mutex> lock(m);
            if (cv.wait_for(lock, std::chrono::seconds(5), [&] { return done; })) return;
            (void)!::write(fds[1], sent.data(), 10);
            ::close(fds[1]);
            done = true;  // the read waited: the count shows it
        });
        InFile f{fds[0]};
        std::vector<uint8_t> got(row.ask);
        const ptrdiff_t n = in_file_read(&f, got.data(), row.ask);
        const bool write_end_closed = [&] {
            std::lock_guard<std::mutex> lock(m);
            return std::exchange(done, true);
        }();
        cv.notify_all();
        watchdog.join();
        EXPECT_EQ(n, static_cast<ptrdiff_t>(row.got));
        EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + static_cast<ptrdiff_t>(row.got), got.begin()));
        // The header's bytes for messages come from the whole read, not its first packet.
        EXPECT_EQ(f.head_len, std::min(row.got, kept_head_bytes));
        EXPECT_TRUE(std::equal(f.head, f.head + f.head_len, sent.begin()));
        EXPECT_TRUE(!row.closed || in_file_read(&f, got.data(), row.ask) == 0);  // then the end
        ::close(fds[0]);
        if (!write_end_closed) ::close(fds[1]);
    }
}

// Options come before the command letter; what parse_options made of them.
std::string parsed(std::vector<const char*> args, const char* defaults) {
    args.insert(args.begin(), "vorb");
    const Options o = parse_options(static_cast<int>(args.size()), args.data(), defaults);
    if (!o.error.empty()) return o.error;
    std::string s = "@" + std::to_string(o.first_arg) + " t" + std::to_string(o.threads) + " b" +
                    std::to_string(o.block_mib) + " m" + std::to_string(o.memory);
    for (const auto& [on, name] : {std::pair{o.help, " h"}, {o.version, " V"}, {o.quiet, " q"}, {o.force, " f"},
                                   {o.to_stdout, " c"}, {o.index == true, " i"}, {o.index == false, " I"},
                                   {o.decompress, " d"}, {o.salvage, " S"}})
        if (on) s += name;
    if (!o.name.empty()) s += " N=" + o.name;
    if (o.recovery) s += " r" + std::to_string(o.recovery);
    return o.directory.empty() ? s : s + " C=" + o.directory;
}

TEST(Cli, OptionParsing) {
    const struct {
        std::vector<const char*> args;
        std::string want;
        const char* defaults = nullptr;  // VORB_OPTIONS
    } cases[] = {
        {{"e", "arch", "f"}, "@1 t0 b4 m0"},
        {{"-t4", "-b", "16", "-q", "-C", "out", "d", "arch"}, "@7 t4 b16 m0 q C=out"},
        {{"--threads=2", "--block-size", "1", "--quiet", "--directory=x y", "t", "a"}, "@6 t2 b1 m0 q C=x y"},
        {{"-h"}, "@2 t0 b4 m0 h"},
        {{"--help"}, "@2 t0 b4 m0 h"},
        {{"-V", "--version"}, "@3 t0 b4 m0 V"},
        {{"-b127", "-t", "0", "e", "a"}, "@4 t0 b127 m0"},
        {{"-qt1", "-fc", "-qC", "dir", "--force", "--stdout", "--index", "d", "a"}, "@8 t1 b4 m0 q f c i C=dir"},
        {{"-i", "--memory=1000", "d", "a"}, "@3 t0 b4 m1000 i"},
        {{"--salvage", "-q", "d", "a"}, "@3 t0 b4 m0 q S"},
        {{"--salvage=1", "d", "a"}, "\nUnknown option: --salvage=1"},
        {{"--memory=64M", "d"}, "@2 t0 b4 m67108864"},
        {{"--memory=3GiB", "d"}, "@2 t0 b4 m3221225472"},
        {{"--memory=512k", "d"}, "@2 t0 b4 m524288"},
        {{"-qr5", "e"}, "@2 t0 b4 m0 q r5"},
        {{"--recovery=50", "-r", "1", "e"}, "@4 t0 b4 m0 r1"},
        {{"-r0", "e", "a"}, "\nBad recovery record size: 0 (1 to 50 percent)"},
        {{"--recovery=51", "e", "a"}, "\nBad recovery record size: 51 (1 to 50 percent)"},
        {{"--memory", "18446744073709551615", "d"}, "@3 t0 b4 m18446744073709551615"},
        {{"e", "arch", "-q", "-t2"}, "@1 t0 b4 m0"},  // member names that look like options are members
        {{"-q", "--", "-e", "arch"}, "@3 t0 b4 m0 q"},
        {{"-", "arch"}, "@1 t0 b4 m0"},
        {{"-t2", "-b8", "-i", "-d"}, "@5 t2 b8 m0 i d"},  // what tar runs to unpack
        {{"-i", "--no-index", "-dc", "--decompress"}, "@5 t0 b4 m0 c I d"},
        {{"--no-index", "--index", "--name=a b"}, "@4 t0 b4 m0 i N=a b"},
        {{"--name", "-", "e"}, "@3 t0 b4 m0 N=-"},
        {{"-t3", "--no-index", "d"}, "@3 t3 b1 m0 q I", " -q\t-b1 -i  -t1 "},
        {{"e"}, "\nIn VORB_OPTIONS: Only options may be given, not x", "-q x -i"},
        {{"e"}, "\nIn VORB_OPTIONS: Unknown option: -y", "-y"},
        {{"e"}, "\nIn VORB_OPTIONS: --help and --version belong on the command line", "-qV"},
        {{"--name="}, "\nBad name for standard input: 1 to 198 characters"},
        {{"-x", "e", "a"}, "\nUnknown option: -x"},
        {{"-qx", "e", "a"}, "\nUnknown option: -x"},
        {{"--frobnicate", "e", "a"}, "\nUnknown option: --frobnicate"},
        {{"--quiet=1", "e", "a"}, "\nUnknown option: --quiet=1"},
        {{"-b0", "e", "a"}, "\nBad block size: 0 (1 to 127 MiB)"},
        {{"-b128", "e", "a"}, "\nBad block size: 128 (1 to 127 MiB)"},
        {{"-b", "4M", "e", "a"}, "\nBad block size: 4M (1 to 127 MiB)"},
        {{"-b", "99999999999999", "e"}, "\nBad block size: 99999999999999 (1 to 127 MiB)"},
        {{"-t", "-1", "e", "a"}, "\nBad thread count: -1 (0 to 256, 0 = every core)"},
        {{"-t257", "e", "a"}, "\nBad thread count: 257 (0 to 256, 0 = every core)"},
        {{"--threads=", "e", "a"}, "\nBad thread count:  (0 to 256, 0 = every core)"},
        {{"-qt", "e", "a"}, "\nBad thread count: e (0 to 256, 0 = every core)"},
        {{"-t"}, "\nOption -t needs a value"},
        {{"--memory"}, "\nOption --memory needs a value"},
        {{"-C", ""}, "\nOption -C needs a directory"},
        {{"--memory=0", "d"}, "\nBad memory size: 0 (bytes, or a number with K, M or G)"},
        {{"--memory=12T", "d"}, "\nBad memory size: 12T (bytes, or a number with K, M or G)"},
        {{"--memory=M", "d"}, "\nBad memory size: M (bytes, or a number with K, M or G)"},
        {{"--memory=17179869184G", "d"}, "\nBad memory size: 17179869184G (bytes, or a number with K, M or G)"},
        {{"--memory=18446744073709551616", "d"}, "\nBad memory size: 18446744073709551616 (bytes, or a number with "
                                                 "K, M or G)"},
    };
    for (const auto& c : cases) EXPECT_EQ(parsed(c.args, c.defaults), c.want) << c.args[0];
    const std::string long_name = "--name=" + std::string(199, 'n');
    EXPECT_EQ(parsed({long_name.c_str()}, nullptr), "\nBad name for standard input: 1 to 198 characters");
    EXPECT_EQ(parsed({long_name.substr(0, long_name.size() - 1).c_str()}, nullptr),
              "@2 t0 b4 m0 N=" + std::string(198, 'n'));
    EXPECT_GE(resolve_threads(0), 1);
    EXPECT_EQ(resolve_threads(3), 3);
}

}  // namespace
