#include "archive/entry_search.h"

#include <algorithm>
#include <cstring>

#include "archive/entry.h"
#include "archive/entry_probe.h"
#include "archive/salvage_plain.h"

namespace {

// Positions are scanned a window at a time; the margin after each window's
// scanned part covers a probe's reads (the first numbers of a stream take a
// few kilobytes at most) and a chain of empty members (255 of at most 205
// bytes each).
constexpr size_t window_step = 1 << 20;
constexpr size_t window_margin = 128 << 10;

bool full_block(uint32_t n, uint32_t block_size) { return n == block_size; }
// With the header lost the block size is a guess; packers use whole MiB.
bool any_whole_mib(uint32_t n, uint32_t) { return n % (1u << 20) == 0; }

enum class Candidate { no, empty, plausible };

// What the bytes at p (avail of them, the archive's last when at_end) look
// like as a present entry; stream_at is where its stream would start.
Candidate entry_candidate(NumberCoder& nc, const uint8_t* p, size_t avail, bool at_end, uint32_t block_size,
                          SearchBudget& budget, size_t& stream_at) {
    if (avail < min_present_entry_bytes || p[0] != entry_present) return Candidate::no;
    const size_t name = plausible_name_length(p + 1, avail - 1);
    if (name == 0) return Candidate::no;
    stream_at = 2 + name;
    if (avail - stream_at < 4 || budget.probes_left == 0) return Candidate::no;
    budget.probes_left--;
    switch (probe_stream_head(nc, p + stream_at, avail - stream_at, block_size)) {
    case StreamHead::implausible: return Candidate::no;
    case StreamHead::empty: return Candidate::empty;
    case StreamHead::plausible: return Candidate::plausible;
    case StreamHead::cut: break;
    }
    // Cut by the window, not by the archive: the file has the rest.
    return at_end ? Candidate::no : Candidate::plausible;
}

struct Search {
    SalvageDecoder& d;
    ReadAtStream& stream;
    const SearchArea& area;
    SearchState& s;
};

Status prove_at(Search& x, uint64_t stream_offset, bool& proven) {
    proven = false;
    SearchBudget& b = x.s.budget;
    if (b.proofs_left == 0 || b.proof_bytes_left == 0) return Status::ok;
    b.proofs_left--;
    read_at_stream_seek(x.stream, stream_offset);
    proven = stream_proven(x.d, x.stream.in, x.area.header_damaged ? any_whole_mib : full_block);
    VORB_CHECK(!x.stream.in.read_error, Status::read_failed);
    if (!proven) {
        const uint64_t used = bytes_in(x.stream.in) - stream_offset;
        b.proof_bytes_left -= std::min(used, b.proof_bytes_left);
    }
    return Status::ok;
}

bool on_failed_chain(SearchState& s, uint64_t at) {
    return std::binary_search(s.failed_chain.begin(), s.failed_chain.end(), at);
}

// An empty member proves little by itself (four zero bytes after a name
// look like one), so what follows it must: the archive's end, the last
// entry the count allows, absent entries, more empty members, and then a
// stream that proves itself. The window holds the whole chain.
Status confirm_empty(Search& x, size_t at, unsigned entries_left, uint64_t window_start, size_t window_len,
                     bool& confirmed) {
    confirmed = false;
    const uint8_t* w = x.s.window.data();
    const bool window_at_end = window_start + window_len == x.area.end;
    std::vector<uint64_t> chain;
    size_t q = at;
    for (;;) {
        chain.push_back(window_start + q);
        if (entries_left == 0 || window_start + q == x.area.end) {
            confirmed = true;
            return Status::ok;
        }
        if (q >= window_len) break;
        if (on_failed_chain(x.s, window_start + q)) break;
        if (w[q] == entry_absent) {
            q++;
            entries_left--;
            continue;
        }
        size_t stream_at = 0;
        const Candidate c = entry_candidate(*x.d.nc, w + q, window_len - q, window_at_end, x.d.block_size,
                                            x.s.budget, stream_at);
        if (c == Candidate::no) break;
        if (c == Candidate::plausible) {
            VORB_TRY(prove_at(x, window_start + q + stream_at, confirmed));
            if (confirmed) return Status::ok;
            break;
        }
        q += stream_at + 4;
        entries_left--;
    }
    x.s.failed_chain = std::move(chain);
    return Status::ok;
}

// Reads what the archive has of [at, at + len) into the window.
Status fill_window(Search& x, uint64_t at, size_t len, size_t& got) {
    got = 0;
    while (got < len) {
        const ptrdiff_t n = x.area.src.read_at(x.area.src.ctx, x.s.window.data() + got, len - got, at + got);
        VORB_CHECK(n >= 0, Status::read_failed);
        if (n == 0) break;
        got += std::min(static_cast<size_t>(n), len - got);
    }
    return Status::ok;
}

}  // namespace

SearchBudget search_budget(uint64_t archive_size) {
    // Intact data passes a probe about once in ten kilobytes and a proof
    // once in a megabyte (measured on text, binaries and random bytes).
    SearchBudget b;
    b.probes_left = (uint64_t{1} << 16) + archive_size / 64;
    b.proofs_left = (uint64_t{1} << 10) + archive_size / (16 << 10);
    b.proof_bytes_left = (uint64_t{64} << 20) + archive_size;
    return b;
}

Status search_entry(SalvageDecoder& d, ReadAtStream& stream, const SearchArea& area, SearchState& s, uint64_t from,
                    unsigned entries_left, SearchOutcome& outcome, uint64_t& found_at) {
    outcome = SearchOutcome::none;
    if (entries_left == 0) return Status::ok;
    Search x{d, stream, area, s};
    s.window.resize(static_cast<size_t>(std::min<uint64_t>(window_step + window_margin, area.end)));
    for (uint64_t w = from; w < area.end; w += window_step) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(window_step + window_margin, area.end - w));
        size_t len = 0;
        VORB_TRY(fill_window(x, w, want, len));
        const bool at_end = len < want || w + len == area.end;
        const size_t scan = std::min(len, window_step);
        const uint8_t* bytes = s.window.data();
        for (size_t i = 0; i < scan; i++) {
            const void* zero = std::memchr(bytes + i, entry_present, scan - i);
            if (!zero) break;
            i = static_cast<size_t>(static_cast<const uint8_t*>(zero) - bytes);
            if (on_failed_chain(s, w + i)) continue;
            size_t stream_at = 0;
            const Candidate c = entry_candidate(*d.nc, bytes + i, len - i, at_end, d.block_size, s.budget, stream_at);
            bool accepted = false;
            if (c == Candidate::plausible) VORB_TRY(prove_at(x, w + i + stream_at, accepted));
            if (c == Candidate::empty) VORB_TRY(confirm_empty(x, i + stream_at + 4, entries_left - 1, w, len, accepted));
            if (accepted) {
                outcome = SearchOutcome::found;
                found_at = w + i;
                return Status::ok;
            }
            if (s.budget.probes_left == 0 || s.budget.proofs_left == 0 || s.budget.proof_bytes_left == 0) {
                outcome = SearchOutcome::gave_up;
                found_at = w + i;
                return Status::ok;
            }
        }
        if (at_end) break;
    }
    return Status::ok;
}
