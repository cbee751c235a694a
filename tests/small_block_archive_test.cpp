// Archives written with another block size than the packer's default must
// unpack: the unpacker takes the size from the header. These are built by
// coding the blocks directly, 100 bytes at a time.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/buffers.h"
#include "app/names.h"
#include "sort/encode_block.h"
#include "support/cli_run.h"
#include "support/memory_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An archive of the given members with blocks of block_size bytes.
Bytes build_archive(uint32_t block_size, const std::vector<std::pair<std::string, Bytes>>& members) {
    MemoryOut m;
    memory_out_init(m);
    const Bytes head = {'!', 'v', 'o', 'r', 'b', static_cast<uint8_t>(block_size), static_cast<uint8_t>(block_size >> 8),
                        static_cast<uint8_t>(block_size >> 16), static_cast<uint8_t>(block_size >> 24),
                        static_cast<uint8_t>(members.size())};
    put_bytes(m.out, head.data(), head.size());
    BlockBuffers buf;
    EXPECT_TRUE(setup_buffers(buf, block_size, true));
    Sorter* sorter = sorter_create();
    DistanceCoder dc;
    dc.distance = buf.distance;
    NumberCoder nc;
    nc.rc.mode = rc_mode_pack;
    nc.rc.out = &m.out;
    for (const auto& [name, data] : members) {
        put_byte(m.out, 0);
        write_name(m.out, name);
        rc_start(nc.rc);
        size_t at = 0;
        for (;;) {
            const size_t n = std::min<size_t>(block_size, data.size() - at);
            std::copy(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n), buf.block_start);
            EXPECT_TRUE(encode_block(*sorter, dc, nc, buf.block_start, static_cast<int32_t>(n), buf.index, {}));
            at += n;
            if (n == 0) break;
        }
    }
    sorter_destroy(sorter);
    release_buffers(buf);
    return memory_out_bytes(m);
}

TEST(SmallBlockArchive, HundredByteBlocksUnpack) {
    const Bytes text = text_like(11, 5000);
    Bytes exact(300);  // exactly three blocks
    for (size_t i = 0; i < exact.size(); i++) exact[i] = static_cast<uint8_t>(i * 7 % 5);
    const Bytes arch =
        build_archive(100, {{"text", text}, {"empty", {}}, {"exact", exact}, {"one", {42}}, {"tail", random_bytes(3, 101)}});
    // Block size 100 is in the header, little-endian.
    ASSERT_EQ(arch[5], 100);
    ASSERT_EQ(arch[6], 0);

    ScratchDir dir;
    write_file(dir / "arch", arch);
    for (const char* threads : {"-t1", "-t2"}) {
        const CliResult r = run_vorb(dir, {threads, "d", "arch"});
        ASSERT_EQ(r.status, 0) << r.output;
        // 5000 bytes in 100-byte blocks: fifty "H".
        EXPECT_NE(r.output.find(">_text: " + std::string(50, 'H') + "\t"), std::string::npos) << r.output;
        EXPECT_TRUE(read_file(dir / "_text") == text);
        EXPECT_TRUE(read_file(dir / "_empty").empty());
        EXPECT_TRUE(read_file(dir / "_exact") == exact);
        EXPECT_EQ(read_file(dir / "_one"), Bytes{42});
        EXPECT_TRUE(read_file(dir / "_tail") == random_bytes(3, 101));
    }
    EXPECT_EQ(run_vorb(dir, {"t", "arch"}).status, 0);
}

TEST(SmallBlockArchive, BlockLongerThanTheHeaderSaysIsDamage) {
    // Coded with 200-byte blocks but labelled 100: the first block is too long.
    Bytes arch = build_archive(200, {{"x", text_like(12, 1000)}});
    arch[5] = 100;
    ScratchDir dir;
    write_file(dir / "arch", arch);
    const CliResult r = run_vorb(dir, {"d", "arch"});
    EXPECT_EQ(r.status, 254);
    EXPECT_NE(r.output.find("Damaged archive: member _x"), std::string::npos) << r.output;
    EXPECT_FALSE(file_exists(dir / "_x"));
}

}  // namespace
