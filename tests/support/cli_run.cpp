#include "support/cli_run.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <sys/wait.h>

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
    std::string templ = (fs::temp_directory_path() / "vorb-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path = templ;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

namespace {

CliResult run_shell(const std::string& cmd) {
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("popen failed");
    CliResult r{0, {}};
    char buf[4096];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, got);
    const int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
    return r;
}

}  // namespace

CliResult run_vorb(const ScratchDir& dir, const std::vector<std::string>& args) {
    std::string cmd = "cd " + shell_quote(dir.path) + " && exec " + shell_quote(VORB_BIN);
    for (const std::string& a : args) cmd += " " + shell_quote(a);
    return run_shell(cmd + " </dev/null");
}

CliResult run_script(const ScratchDir& dir, const std::string& script) {
    return run_shell("cd " + shell_quote(dir.path) + " && VORB=" + shell_quote(VORB_BIN) +
                     " && export VORB && vorb() { \"$VORB\" \"$@\"; } && {\n" + script + "\n} </dev/null");
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::string& path, const std::string& text) {
    write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

bool file_exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::vector<std::string> list_dir(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<uint8_t> random_bytes(uint32_t seed, size_t n, unsigned alphabet) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng() % alphabet);
    return v;
}

std::string corpus_path(const std::string& relative) { return std::string(VORB_CORPUS_DIR) + "/" + relative; }

// Thrown rather than returned empty: the test then fails naming the path
// instead of testing nothing or indexing into an empty buffer.
[[noreturn]] static void missing_data(const std::string& path) {
    throw std::runtime_error("test data missing: " + path);
}

std::vector<std::string> corpus_files() {
    std::vector<std::string> files;
    for (const char* set : {"calgary", "canterbury"}) {
        const std::string dir = corpus_path(set);
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file()) files.push_back(std::string(set) + "/" + e.path().filename().string());
        if (ec || files.empty()) missing_data(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> read_corpus_file(const std::string& relative) {
    const std::string path = corpus_path(relative);
    std::ifstream f(path, std::ios::binary);
    if (!f) missing_data(path);
    std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(f), {});
    if (bytes.empty()) missing_data(path);
    return bytes;
}

std::vector<uint8_t> text_like(uint32_t seed, size_t n) {
    static const std::vector<uint8_t> source = [] {
        std::vector<uint8_t> all;
        for (const char* f : {"calgary/book1", "calgary/book2", "canterbury/lcet10.txt", "calgary/progc"}) {
            const auto b = read_corpus_file(f);
            all.insert(all.end(), b.begin(), b.end());
        }
        return all;
    }();
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(n);
    while (out.size() < n) {
        const size_t start = rng() % (source.size() - 70000);
        const size_t len = std::min<size_t>(n - out.size(), 1000 + rng() % 60000);
        out.insert(out.end(), source.begin() + static_cast<long>(start), source.begin() + static_cast<long>(start + len));
    }
    return out;
}
