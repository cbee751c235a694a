// One member's block stream, packed or unpacked through callbacks.
#include <new>

#include "api/api_streams.h"
#include "archive/member_decode.h"
#include "archive/pack.h"

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
    vorb_packer* p = new (std::nothrow) vorb_packer;
    Status st = p ? Status::ok : Status::out_of_memory;
    if (p) {
        try {
            st = packer_init(p->packer, block_size, threads);
        } catch (const std::bad_alloc&) {
            st = Status::out_of_memory;
        }
    }
    if (st != Status::ok) {
        delete p;
        set_error(err, to_api(st));
        return nullptr;
    }
    set_error(err, VORB_OK);
    return p;
}

void vorb_packer_free(vorb_packer* p) { delete p; }

vorb_status vorb_pack_member(vorb_packer* p, vorb_read_fn read, void* read_ctx, vorb_write_fn write,
                             void* write_ctx, vorb_progress_fn progress, void* progress_ctx,
                             vorb_member_stats* stats) {
    if (!p || !read || !write) return VORB_ERR_PARAM;
    try {
        callback_out_init(p->out, write, write_ctx);
    } catch (const std::bad_alloc&) {
        return VORB_ERR_MEMORY;
    }
    ProgressAdapter adapter;
    MemberStats s;
    Status st = pack_member(p->packer, MemberInput{read, read_ctx}, p->out.out,
                            progress_sink(adapter, progress, progress_ctx), s);
    if (!flush_out(p->out.out) && st == Status::ok) st = Status::write_failed;
    put_stats(stats, s);
    return to_api(st);
}

vorb_unpacker* vorb_unpacker_create(uint32_t block_size, int threads, vorb_status* err) {
    if (block_size == 0 || block_size > max_block_size || !threads_ok(threads)) {
        set_error(err, VORB_ERR_PARAM);
        return nullptr;
    }
    vorb_unpacker* u = new (std::nothrow) vorb_unpacker;
    Status st = u ? Status::ok : Status::out_of_memory;
    if (u) {
        try {
            callback_in_init(u->in, nullptr, nullptr);
            st = member_decoder_init(u->decoder, u->in.in, block_size, threads);
        } catch (const std::bad_alloc&) {
            st = Status::out_of_memory;
        }
    }
    if (st != Status::ok) {
        delete u;
        set_error(err, to_api(st));
        return nullptr;
    }
    set_error(err, VORB_OK);
    return u;
}

void vorb_unpacker_free(vorb_unpacker* u) { delete u; }

vorb_status vorb_unpack_member(vorb_unpacker* u, vorb_read_fn read, void* read_ctx, vorb_write_fn write,
                               void* write_ctx, vorb_progress_fn progress, void* progress_ctx,
                               vorb_member_stats* stats) {
    if (!u || !read || !write) return VORB_ERR_PARAM;
    CallbackOut out;
    try {
        callback_out_init(out, write, write_ctx);
    } catch (const std::bad_alloc&) {
        return VORB_ERR_MEMORY;
    }
    callback_in_init(u->in, read, read_ctx);  // the decoder keeps pointing at u->in.in
    ProgressAdapter adapter;
    MemberStats s;
    Status st = decode_member(u->decoder, out.out, progress_sink(adapter, progress, progress_ctx), true, s);
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
