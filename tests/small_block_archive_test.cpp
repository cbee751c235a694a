// Archives written with another block size than the packer's default must
// unpack: the unpacker takes the size from the header. These are built
// through the library's writer, 100 bytes a block.
#include <gtest/gtest.h>

#include <filesystem>

#include <vorb.h>

#include "support/cli_run.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Reading {
    const Bytes* data;
    size_t at = 0;
};

// An archive of the given members with blocks of block_size bytes.
Bytes build_archive(uint32_t block_size, const std::vector<std::pair<std::string, Bytes>>& members) {
    Bytes arch;
    const vorb_pack_options opt{block_size, 1, 0};
    vorb_writer* w = vorb_writer_create(
        [](void* ctx, const void* d, size_t n) {
            static_cast<Bytes*>(ctx)->insert(static_cast<Bytes*>(ctx)->end(), static_cast<const uint8_t*>(d),
                                             static_cast<const uint8_t*>(d) + n);
            return 0;
        },
        &arch, &opt, nullptr);
    EXPECT_EQ(vorb_writer_begin(w, static_cast<unsigned>(members.size())), VORB_OK);
    for (const auto& [name, data] : members) {
        Reading r{&data};
        const vorb_read_fn read = [](void* ctx, void* buf, size_t len) -> ptrdiff_t {
            Reading& rd = *static_cast<Reading*>(ctx);
            const size_t n = std::min(len, rd.data->size() - rd.at);
            std::copy_n(rd.data->data() + rd.at, n, static_cast<uint8_t*>(buf));
            rd.at += n;
            return static_cast<ptrdiff_t>(n);
        };
        EXPECT_EQ(vorb_writer_add_member(w, name.c_str(), read, &r, nullptr, nullptr, nullptr, nullptr), VORB_OK);
    }
    EXPECT_EQ(vorb_writer_finish(w), VORB_OK);
    vorb_writer_free(w);
    return arch;
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
    EXPECT_NE(r.output.find("Damaged archive: member x:"), std::string::npos) << r.output;
    EXPECT_FALSE(file_exists(dir / "_x"));
}

}  // namespace
