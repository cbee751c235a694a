#include "support/recorded_file.h"

#include <gtest/gtest.h>

#include "../fuzz/memory_io.h"

namespace {

ptrdiff_t read_at(void* ctx, void* buf, size_t len, uint64_t offset) {
    const Bytes& b = *static_cast<const Bytes*>(ctx);
    if (offset >= b.size()) return 0;
    const size_t n = std::min<size_t>(len, b.size() - offset);
    std::copy_n(b.data() + offset, n, static_cast<uint8_t*>(buf));
    return static_cast<ptrdiff_t>(n);
}

vorb_source at_source(const Bytes& b) { return vorb_source{nullptr, read_at, const_cast<Bytes*>(&b), b.size()}; }

}  // namespace

Bytes with_record(const Bytes& data, unsigned percent) {
    MemoryReader r{data.data(), data.size()};
    vorb_source src = memory_source(r);
    VectorWriter w;
    w.bytes = data;
    EXPECT_EQ(vorb_recovery_build(&src, percent, vector_write, &w), VORB_OK);
    return w.bytes;
}

vorb_recovery_layout layout_for(uint64_t data_size, unsigned percent) {
    vorb_recovery_layout l{};
    EXPECT_EQ(vorb_recovery_plan(data_size, percent, &l), VORB_OK);
    return l;
}

vorb_recovery_report check_file(const Bytes& file) {
    const vorb_source src = at_source(file);
    vorb_recovery_report rep{};
    EXPECT_EQ(vorb_recovery_check(&src, &rep), VORB_OK);
    return rep;
}

Bytes repair_file(const Bytes& file, vorb_status& st) {
    const vorb_source src = at_source(file);
    VectorWriter w;
    st = vorb_recovery_repair(&src, vector_write, &w, nullptr);
    return w.bytes;
}
