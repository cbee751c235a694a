#include "inverse/decode_block.h"

#include <cstring>

Status decode_block_symbols(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size, bool first_block,
                            int32_t& n, int32_t& primary) {
    reset_models(nc.models);
    if (first_block) rc_load(nc.rc);
    VORB_TRY(dc_decode(bd.dd, nc, t, block_size, n));
    if (n == 0) return Status::ok;
    uint32_t p;
    VORB_TRY(decode_number(nc, 0, 0, p));
    VORB_CHECK(p < static_cast<uint32_t>(n), Status::bad_primary_index);
    primary = static_cast<int32_t>(p);
    return Status::ok;
}

Status invert_block(int32_t* bucket_start, const uint8_t* t, int32_t n, int32_t primary, int32_t* links,
                    ByteOut& out) {
    // Bucket starts: how many bytes of t lie below each value.
    std::memset(bucket_start, 0, 256 * sizeof bucket_start[0]);
    for (int32_t i = 0; i < n; i++) bucket_start[t[i]]++;
    int32_t total = n;
    for (int x = 255; x >= 0; x--) {
        total -= bucket_start[x];
        bucket_start[x] = total;
    }

    // The row of position 0 takes the first place of its bucket; every other
    // row links to the row of the position after it.
    const uint8_t x0 = t[primary];
    put_byte(out, x0);
    int32_t p = bucket_start[x0]++;
    for (int32_t i = 0; i < primary; i++) links[i] = bucket_start[t[i]]++;
    for (int32_t i = primary + 1; i < n; i++) links[i] = bucket_start[t[i]]++;
    // Closing the cycle keeps a damaged block's walk inside the array; a
    // block that is a real transform reaches the primary row exactly last.
    links[primary] = p;

    for (int32_t k = 1; k < n; k++) {
        put_byte(out, t[p]);
        p = links[p];
    }
    VORB_CHECK(p == primary, Status::bad_transform);
    return Status::ok;
}

Status decode_block(BlockDecoder& bd, NumberCoder& nc, uint8_t* t, uint32_t block_size, int32_t* links,
                    ByteOut& out, ProgressSink progress, int32_t& n) {
    int32_t primary = 0;
    VORB_TRY(decode_block_symbols(bd, nc, t, block_size, bytes_out(out) == 0, n, primary));
    if (n == 0) return Status::ok;
    progress_put(progress, 'H');
    return invert_block(bd.bucket_start, t, n, primary, links, out);
}
