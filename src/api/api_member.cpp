// One member's block stream, packed or unpacked through callbacks.
#include "api/api_alloc.h"
#include "api/api_streams.h"
#include "archive/member_decode.h"
#include "archive/pack.h"
#include "dc/block_buffers.h"

struct vorb_packer {
    Packer packer;
    CallbackOut out;
};

struct vorb_unpacker {
    MemberDecoder decoder;
    CallbackIn in;  // the decoder reads from in.in, pointed at each call's callback
};

namespace {

constexpr int max_threads = 256;

bool threads_ok(int threads) { return threads >= 1 && threads <= max_threads; }

void put_stats(vorb_member_stats* out, const MemberStats& s) {
    if (out) *out = vorb_member_stats{s.unpacked, s.packed, s.blocks};
}

}  // namespace

vorb_packer* vorb_packer_create(uint32_t block_size, int threads, vorb_status* err) {
    if (block_size == 0 || block_size > max_block_size || !threads_ok(threads)) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_packer* p = create_or_fail<vorb_packer>(
        err, [&](vorb_packer& x) { return packer_init(x.packer, block_size, threads); });
    if (!p) return nullptr;
    set_error(err, VORB_OK);
    return p;
}

void vorb_packer_free(vorb_packer* p) { delete p; }

vorb_status vorb_pack_member(vorb_packer* p, vorb_read_fn read, void* read_ctx, vorb_write_fn write,
                             void* write_ctx, vorb_progress_fn progress, void* progress_ctx,
                             vorb_member_stats* stats) {
    if (!p || !read || !write) return VORB_ERR_PARAM;
    const vorb_status ready = or_out_of_memory([&] {
        callback_out_init(p->out, write, write_ctx);
        return VORB_OK;
    });
    if (ready != VORB_OK) return ready;
    ProgressAdapter adapter;
    MemberStats s;
    Status st = or_out_of_memory([&] {
        return pack_member(p->packer, MemberInput{read, read_ctx}, p->out.out,
                           progress_sink(adapter, progress, progress_ctx), s);
    });
    if (!flush_out(p->out.out) && st == Status::ok) st = Status::write_failed;
    put_stats(stats, s);
    return to_api(st);
}

vorb_unpacker* vorb_unpacker_create(uint32_t block_size, int threads, vorb_status* err) {
    if (block_size == 0 || block_size > max_block_size || !threads_ok(threads)) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_unpacker* u = create_or_fail<vorb_unpacker>(err, [&](vorb_unpacker& x) {
        callback_in_init(x.in, nullptr, nullptr);
        return member_decoder_init(x.decoder, x.in.in, block_size, threads);
    });
    if (!u) return nullptr;
    set_error(err, VORB_OK);
    return u;
}

void vorb_unpacker_free(vorb_unpacker* u) { delete u; }

vorb_status vorb_unpack_member(vorb_unpacker* u, vorb_read_fn read, void* read_ctx, vorb_write_fn write,
                               void* write_ctx, vorb_progress_fn progress, void* progress_ctx,
                               vorb_member_stats* stats) {
    if (!u || !read || !write) return VORB_ERR_PARAM;
    CallbackOut out;
    const vorb_status ready = or_out_of_memory([&] {
        callback_out_init(out, write, write_ctx);
        return VORB_OK;
    });
    if (ready != VORB_OK) return ready;
    callback_in_init(u->in, read, read_ctx);  // the decoder keeps pointing at u->in.in
    ProgressAdapter adapter;
    MemberStats s;
    Status st = or_out_of_memory(
        [&] { return decode_member(u->decoder, out.out, progress_sink(adapter, progress, progress_ctx), true, s); });
    if (!flush_out(out.out) && st == Status::ok) st = Status::write_failed;
    put_stats(stats, s);
    return to_api(st);
}

vorb_status vorb_unpacker_unused(const vorb_unpacker* u, const void** buf, size_t* len) {
    if (!u || !buf || !len) return VORB_ERR_PARAM;
    const ByteIn& in = u->in.in;
    *buf = in.buf ? in.buf + in.pos : nullptr;
    *len = in.len - in.pos;
    return VORB_OK;
}
