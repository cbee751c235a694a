#include "salvage_report.h"

#include "console.h"

namespace {

std::string num(uint64_t v) { return std::to_string(v); }

}  // namespace

std::string salvage_opening_notes(const vorb_salvage_info& info) {
    std::string notes;
    if (info.flags & VORB_SALVAGE_INDEX_DAMAGED)
        notes += std::string("\nDamaged index (") + (info.index_fault ? info.index_fault : "damaged") +
                 "): the archive is salvaged as a plain one";
    if (info.flags & VORB_SALVAGE_HEADER_DAMAGED)
        notes += (info.flags & VORB_SALVAGE_INDEXED)
                     ? std::string("\nDamaged header: the index's copy of it is used")
                     : "\nDamaged header: blocks are taken to be at most " + num(info.block_size) +
                           " bytes, and entries are looked for up to the archive's end";
    return notes;
}

std::string passed_over_note(const vorb_salvage_entry& e) {
    const std::string found = "the next entry was found at offset " + num(e.offset) + " by searching";
    if (e.skipped_from == e.offset) return "\nDamaged archive: " + found;
    return "\nDamaged archive: bytes " + num(e.skipped_from) + " to " + num(e.offset - 1) + " were passed over; " + found;
}

std::string damage_text(vorb_status st, const vorb_salvage_result& r, const vorb_salvage_info& info) {
    if (!(info.flags & VORB_SALVAGE_INDEXED)) {
        if (st == VORB_ERR_STREAM_END)
            return "decoded to its end, but its last bytes do not match: its last block may be wrong, and a plain "
                   "archive has no checksums to tell";
        std::string why = std::string(vorb_status_message(st)) + ": ";
        if (r.written == 0) return why + "nothing could be saved";
        return why + "its first " + num(r.written) +
               " bytes were saved, but cannot be verified: a plain archive has no checksums";
    }
    const bool block_sums = info.flags & VORB_SALVAGE_BLOCK_CHECKSUMS;
    if (r.lost == 0)
        return "damaged: every block decoded and ended where the index says, but the member's checksum differs; "
               "an index of version 1 has no block checksums to tell which bytes are wrong";
    std::string text = "damaged: " + num(r.lost) + " of " + num(r.written) + " bytes lost, written as zeros; ";
    if (block_sums) return text + "every other block passed its checksum";
    return text + "the other blocks decoded and ended where the index says, but an index of version 1 has no "
                  "block checksums, so their bytes cannot be verified";
}

std::string lost_lines(const std::string& shown, const LostList& lost) {
    std::string lines;
    for (const auto& [offset, length] : lost) {
        lines += "\nLost: " + printable_name(shown) + ": ";
        if (length == UINT64_MAX)
            lines += "everything from offset " + num(offset) + " (the member's size is unknown)";
        else
            lines += num(length) + " bytes at offset " + num(offset);
    }
    return lines;
}

std::string salvage_closing_notes(const vorb_salvage_info& info) {
    std::string notes;
    if (info.flags & VORB_SALVAGE_GAVE_UP)
        notes += "\nDamaged archive: the search for the next entry gave up at offset " + num(info.unread_from) +
                 " after too many false starts; nothing after it was salvaged";
    else if (info.unread_from < info.archive_size)
        notes += "\nDamaged archive: no entry was found in the last " + num(info.archive_size - info.unread_from) +
                 " bytes, from offset " + num(info.unread_from);
    const bool count_known = !(info.flags & VORB_SALVAGE_HEADER_DAMAGED);
    if (count_known && info.entries_seen < info.member_count)
        notes += "\nDamaged archive: " + num(info.member_count - info.entries_seen) + " of " +
                 num(info.member_count) + " entries were not found";
    return notes;
}
