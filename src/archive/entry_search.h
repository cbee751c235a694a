// Finding a plain archive's next entry after damage, where no length says
// where it starts: every later position is tried as the start of an entry.
// A position must hold a presence byte and a plausible name; then the first
// numbers of a stream from a fresh coder must look like a packer's
// (entry_probe.h); only then is the stream decoded in earnest, until it
// proves to be one (salvage_plain.h). Work is bounded by a budget, so no
// archive, however made, can keep the search going for long.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/index_load.h"
#include "archive/read_at_stream.h"
#include "archive/salvage_decoder.h"
#include "common/status.h"

// How much the searches of one archive may try before they give up: probes
// of a stream's first numbers, and decodings that go further and fail.
struct SearchBudget {
    uint64_t probes_left = 0;
    uint64_t proofs_left = 0;
    uint64_t proof_bytes_left = 0;
};

// A budget that grows with the archive: far more than intact data needs.
SearchBudget search_budget(uint64_t archive_size);

struct SearchArea {
    IndexSource src;
    uint64_t end = 0;               // no entry reaches past this offset
    bool header_damaged = false;    // the block size is a guess: any whole MiB up to it is a full block
};

enum class SearchOutcome { found, none, gave_up };

struct SearchState {
    SearchBudget budget;
    std::vector<uint8_t> window;
    // Entries after which a chain of empty members failed to be confirmed;
    // a later start on that chain would fail the same way.
    std::vector<uint64_t> failed_chain;
};

// Searches [from, area.end) for the first position where a present entry
// starts, given that at most entries_left entries remain. found_at is its
// presence byte. Fails only with read_failed.
[[nodiscard]] Status search_entry(SalvageDecoder& d, ReadAtStream& stream, const SearchArea& area, SearchState& s,
                                  uint64_t from, unsigned entries_left, SearchOutcome& outcome, uint64_t& found_at);
