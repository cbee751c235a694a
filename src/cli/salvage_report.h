// What salvage says: how the archive is read, what became of a damaged
// member, and what was lost, in words that say what can be verified.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <vorb.h>

// A member's lost ranges as (offset, length), in member order.
using LostList = std::vector<std::pair<uint64_t, uint64_t>>;

// The notes on a damaged header or index, before any member; empty when
// there is nothing to say.
std::string salvage_opening_notes(const vorb_salvage_info& info);

// The line before an entry found by searching: the bytes passed over.
std::string passed_over_note(const vorb_salvage_entry& e);

// Why a member did not come back whole: st is what vorb_salvager_unpack
// returned.
std::string damage_text(vorb_status st, const vorb_salvage_result& r, const vorb_salvage_info& info);

// One line per lost range of the member shown as shown.
std::string lost_lines(const std::string& shown, const LostList& lost);

// After the last entry: bytes no entry was found in, entries not found.
std::string salvage_closing_notes(const vorb_salvage_info& info);
