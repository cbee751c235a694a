#include "support/archive_bytes.h"

#include <gtest/gtest.h>

#include "../fuzz/memory_io.h"

Bytes pack_members(const Members& members, uint32_t block_size, int threads, size_t piece) {
    VectorWriter out;
    const vorb_pack_options opt{block_size, threads, 0};
    vorb_writer* w = vorb_writer_create(vector_write, &out, &opt, nullptr);
    EXPECT_EQ(vorb_writer_begin(w, static_cast<unsigned>(members.size())), VORB_OK);
    for (const auto& [name, data] : members) {
        MemoryReader r{data.data(), data.size(), 0, piece};
        EXPECT_EQ(vorb_writer_add_member(w, name.c_str(), memory_read, &r, nullptr, nullptr, nullptr, nullptr), VORB_OK);
    }
    EXPECT_EQ(vorb_writer_finish(w), VORB_OK);
    vorb_writer_free(w);
    return out.bytes;
}

Bytes member_stream(const Bytes& content, uint32_t block_size) {
    const Bytes arch = pack_members({{"m", content}}, block_size);
    return Bytes(arch.begin() + 13, arch.end());  // header, count, presence byte, "m" and its NUL
}

Bytes archive_of(const std::vector<HandEntry>& entries, uint32_t block_size) {
    Bytes a = {'!', 'v', 'o', 'r', 'b'};
    for (int shift = 0; shift < 32; shift += 8) a.push_back(static_cast<uint8_t>(block_size >> shift));
    a.push_back(static_cast<uint8_t>(entries.size()));
    for (const HandEntry& e : entries) {
        a.push_back(e.present ? 0x00 : 0xFF);
        if (!e.present) continue;
        a.insert(a.end(), e.name.begin(), e.name.end());
        a.push_back(0);
        a.insert(a.end(), e.stream.begin(), e.stream.end());
    }
    return a;
}
