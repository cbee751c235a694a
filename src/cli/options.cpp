#include "options.h"

#include <cstring>
#include <thread>

namespace {

constexpr int max_threads = 256;

// Whole decimal number in [lo, hi]; false for anything else.
bool parse_number(const std::string& s, long lo, long hi, long& out) {
    if (s.empty() || s.size() > 9) return false;
    long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v < lo || v > hi) return false;
    out = v;
    return true;
}

}  // namespace

Options parse_options(int argc, const char* const* argv) {
    Options o;
    int i = 1;
    for (; i < argc; i++) {
        const std::string a = argv[i];
        if (a.size() < 2 || a[0] != '-') break;
        if (a == "--") {
            i++;
            break;
        }
        if (a == "-h" || a == "--help") {
            o.help = true;
            continue;
        }
        if (a == "-V" || a == "--version") {
            o.version = true;
            continue;
        }
        if (a == "-q" || a == "--quiet") {
            o.quiet = true;
            continue;
        }
        if (a == "-i" || a == "--index") {
            o.index = true;
            continue;
        }
        // Options with a value: "-t4", "-t 4", "--threads=4", "--threads 4".
        struct ValueOption {
            char letter;
            const char* long_name;
        };
        static const ValueOption value_options[] = {{'t', "--threads"}, {'b', "--block-size"}, {'C', "--directory"}};
        const ValueOption* opt = nullptr;
        std::string value;
        bool have_value = false;
        for (const ValueOption& v : value_options) {
            const std::string short_name = {'-', v.letter};
            const std::string long_eq = std::string(v.long_name) + "=";
            if (a == short_name || a == v.long_name) {
                opt = &v;
            } else if (a.compare(0, 2, short_name) == 0 && a[1] != '-') {
                opt = &v;
                value = a.substr(2);
                have_value = true;
            } else if (a.compare(0, long_eq.size(), long_eq) == 0) {
                opt = &v;
                value = a.substr(long_eq.size());
                have_value = true;
            }
            if (opt) break;
        }
        if (!opt) {
            o.error = "\nUnknown option: " + a;
            return o;
        }
        if (!have_value) {
            if (i + 1 >= argc) {
                o.error = "\nOption " + a + " needs a value";
                return o;
            }
            value = argv[++i];
        }
        long n = 0;
        switch (opt->letter) {
        case 't':
            if (!parse_number(value, 0, max_threads, n)) {
                o.error = "\nBad thread count: " + value + " (0 to 256, 0 = every core)";
                return o;
            }
            o.threads = static_cast<int>(n);
            break;
        case 'b':
            if (!parse_number(value, 1, max_block_mib, n)) {
                o.error = "\nBad block size: " + value + " (1 to 127 MiB)";
                return o;
            }
            o.block_mib = static_cast<uint32_t>(n);
            break;
        case 'C':
            if (value.empty()) {
                o.error = "\nOption -C needs a directory";
                return o;
            }
            o.directory = value;
            break;
        }
    }
    o.first_arg = i;
    return o;
}

int resolve_threads(int n) {
    if (n > 0) return n;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : static_cast<int>(hw > max_threads ? max_threads : hw);
}
