#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include <vorb.h>

#include <vorb.h>

namespace {

constexpr int max_threads = 256;

struct KnownOption {
    char key;               // what it sets: its letter, or a capital for long-only ones
    char letter;            // 0: long form only
    const char* long_name;  // without the leading "--"
    bool takes_value;
};

const KnownOption known_options[] = {
    {'h', 'h', "help", false},       {'V', 'V', "version", false},    {'q', 'q', "quiet", false},
    {'f', 'f', "force", false},      {'c', 'c', "stdout", false},     {'i', 'i', "index", false},
    {'d', 'd', "decompress", false}, {'t', 't', "threads", true},     {'b', 'b', "block-size", true},
    {'C', 'C', "directory", true},   {'M', 0, "memory", true},        {'N', 0, "name", true},
    {'I', 0, "no-index", false},   {'S', 0, "salvage", false},
    {'r', 'r', "recovery", true},
};

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

// Bytes, with an optional K, M or G (KiB, MiB, GiB) multiplier.
bool parse_size(const std::string& s, uint64_t& out) {
    static const struct {
        const char* name;
        int shift;
    } units[] = {{"", 0},   {"B", 0},  {"K", 10}, {"k", 10}, {"KiB", 10}, {"M", 20},
                 {"m", 20}, {"MiB", 20}, {"G", 30}, {"g", 30}, {"GiB", 30}};
    size_t digits = 0;
    while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') digits++;
    if (digits == 0) return false;
    errno = 0;
    const uint64_t v = std::strtoull(s.substr(0, digits).c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    for (const auto& u : units)
        if (s.compare(digits, std::string::npos, u.name) == 0) {
            if (v == 0 || v > (UINT64_MAX >> u.shift)) return false;
            out = v << u.shift;
            return true;
        }
    return false;
}

void set_flag(Options& o, char key) {
    switch (key) {
    case 'h': o.help = true; break;
    case 'V': o.version = true; break;
    case 'q': o.quiet = true; break;
    case 'f': o.force = true; break;
    case 'c': o.to_stdout = true; break;
    case 'i': o.index = true; break;
    case 'I': o.index = false; break;
    case 'd': o.decompress = true; break;
    case 'S': o.salvage = true; break;
    }
}

// Checks and stores an option's value; false with o.error set when it is bad.
bool set_value(Options& o, const KnownOption& known, const std::string& value) {
    long n = 0;
    switch (known.key) {
    case 't':
        if (!parse_number(value, 0, max_threads, n)) {
            o.error = "\nBad thread count: " + value + " (0 to 256, 0 = every core)";
            return false;
        }
        o.threads = static_cast<int>(n);
        return true;
    case 'b':
        if (!parse_number(value, 1, max_block_mib, n)) {
            o.error = "\nBad block size: " + value + " (1 to 127 MiB)";
            return false;
        }
        o.block_mib = static_cast<uint32_t>(n);
        return true;
    case 'r':
        if (!parse_number(value, VORB_MIN_RECOVERY_PERCENT, VORB_MAX_RECOVERY_PERCENT, n)) {
            o.error = "\nBad recovery record size: " + value + " (1 to 50 percent)";
            return false;
        }
        o.recovery = static_cast<uint32_t>(n);
        return true;
    case 'C':
        if (value.empty()) {
            o.error = "\nOption -C needs a directory";
            return false;
        }
        o.directory = value;
        return true;
    case 'N':
        // Checked here, so a refused name leaves nothing behind.
        if (value.empty() || value.size() > VORB_MAX_NAME_LENGTH) {
            o.error = "\nBad name for standard input: 1 to 198 characters";
            return false;
        }
        o.name = value;
        return true;
    default:  // --memory
        if (!parse_size(value, o.memory)) {
            o.error = "\nBad memory size: " + value + " (bytes, or a number with K, M or G)";
            return false;
        }
        return true;
    }
}

const KnownOption* find_short(char letter) {
    for (const KnownOption& s : known_options)
        if (s.letter == letter) return &s;
    return nullptr;
}

}  // namespace

namespace {

// Parses argv[i..] into o; returns the index of the first argument that is
// not an option, or argc on an error (o.error).
int parse_from(Options& o, int argc, const char* const* argv, int i) {
    for (; i < argc; i++) {
        const std::string a = argv[i];
        if (a.size() < 2 || a[0] != '-') break;
        if (a == "--") {
            i++;
            break;
        }
        const KnownOption* known = nullptr;
        std::string value;
        bool have_value = false;
        std::string shown = a;  // the option as the user wrote it, for messages
        if (a[1] == '-') {
            // "--name", "--name=value" or "--name value".
            const size_t eq = a.find('=');
            const std::string name = a.substr(2, eq == std::string::npos ? eq : eq - 2);
            for (const KnownOption& s : known_options)
                if (name == s.long_name) known = &s;
            if (!known || (eq != std::string::npos && !known->takes_value)) {
                o.error = "\nUnknown option: " + a;
                return argc;
            }
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
                have_value = true;
            }
            shown = "--" + name;
        } else {
            // A run of letters: flags, up to one that takes the rest as its value.
            for (size_t k = 1; k < a.size(); k++) {
                known = find_short(a[k]);
                if (!known) {
                    o.error = "\nUnknown option: -" + std::string(1, a[k]);
                    return argc;
                }
                if (known->takes_value) {
                    shown = std::string("-") + a[k];
                    if (k + 1 < a.size()) {
                        value = a.substr(k + 1);
                        have_value = true;
                    }
                    break;
                }
                set_flag(o, known->key);
                known = nullptr;
            }
            if (!known) continue;
        }
        if (!known->takes_value) {
            set_flag(o, known->key);
            continue;
        }
        if (!have_value) {
            if (i + 1 >= argc) {
                o.error = "\nOption " + shown + " needs a value";
                return argc;
            }
            value = argv[++i];
        }
        if (!set_value(o, *known, value)) return argc;
    }
    return i;
}

// The defaults' words, as options only: a command or file name there would
// act on every run.
void parse_defaults(Options& o, const char* defaults) {
    std::vector<std::string> words;
    std::istringstream in(defaults);
    for (std::string w; in >> w;) words.push_back(w);
    std::vector<const char*> argv;
    for (const std::string& w : words) argv.push_back(w.c_str());
    const int count = static_cast<int>(argv.size());
    const int end = parse_from(o, count, argv.data(), 0);
    for (int k = 0; k < end && o.error.empty(); k++)
        if (words[static_cast<size_t>(k)] == "--") o.error = "\nOnly options may be given, not --";
    if (o.error.empty() && end < count) o.error = "\nOnly options may be given, not " + words[static_cast<size_t>(end)];
    // Either would end every run at once, with status 0 and nothing done.
    if (o.error.empty() && (o.help || o.version)) o.error = "\n--help and --version belong on the command line";
    if (!o.error.empty()) o.error = "\nIn VORB_OPTIONS: " + o.error.substr(1);
}

}  // namespace

Options parse_options(int argc, const char* const* argv, const char* defaults) {
    Options o;
    if (defaults) parse_defaults(o, defaults);
    if (!o.error.empty()) return o;
    o.first_arg = parse_from(o, argc, argv, 1);
    // After a bad option, the first word that is none still tells a command
    // from a filter, and so where the message goes.
    if (!o.error.empty()) {
        o.first_arg = 1;
        while (o.first_arg < argc && argv[o.first_arg][0] == '-') o.first_arg++;
    }
    return o;
}

std::vector<std::string> names_after_archive(int argc, const char* const* argv, int from) {
    std::vector<std::string> names;
    bool options_ended = false;
    for (int i = from; i < argc; i++) {
        if (!options_ended && std::strcmp(argv[i], "--") == 0) {
            options_ended = true;
            continue;
        }
        names.emplace_back(argv[i]);
    }
    return names;
}

int resolve_threads(int n) {
    if (n > 0) return n;
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : static_cast<int>(hw > max_threads ? max_threads : hw);
}
