// Runs the real program in a scratch directory, the way a user would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct CliResult {
    int status;          // exit status as the shell sees it (-1 -> 255, -2 -> 254)
    std::string output;  // standard output
};

// A fresh empty directory under the system's temporary area, removed with the object.
struct ScratchDir {
    std::string path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string operator/(const std::string& name) const { return path + "/" + name; }
};

// Runs vorb with args (each shell-quoted) inside dir, standard input empty.
CliResult run_vorb(const ScratchDir& dir, const std::vector<std::string>& args);
// Runs a shell script in dir in which "vorb" is the program (and $VORB its
// path), standard input empty unless the script redirects it: pipes,
// redirections, limits and several runs. output is standard output; the
// script sends standard error there if wanted.
CliResult run_script(const ScratchDir& dir, const std::string& script);
// Quotes s for the shell.
std::string shell_quote(const std::string& s);

std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
void write_file(const std::string& path, const std::string& text);
bool file_exists(const std::string& path);
// Names in a directory, sorted, without . and ..
std::vector<std::string> list_dir(const std::string& path);

// Data for round trips: deterministic for a seed.
std::vector<uint8_t> random_bytes(uint32_t seed, size_t n, unsigned alphabet = 256);
// Corpus text mixed and cut to n bytes: compressible like real files.
std::vector<uint8_t> text_like(uint32_t seed, size_t n);
std::string corpus_path(const std::string& relative);
// Both throw std::runtime_error naming the path when the data is missing.
std::vector<std::string> corpus_files();  // relative paths such as "calgary/bib"
std::vector<uint8_t> read_corpus_file(const std::string& relative);
