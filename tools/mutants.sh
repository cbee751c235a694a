#!/usr/bin/env bash
# Mutation check: how many plausible small faults the test suite catches.
#
# Each mutant below is (file, exact text, replacement); every occurrence of
# the text in the file is replaced ("\n" in either column stands for a line
# break). Mutants are applied one at a time to a scratch copy of the tree,
# rebuilt incrementally in one build folder, and run against the suite, the
# quick tests first, stopping at the first failure. A mutant whose text is
# not found or that does not compile is invalid.
#
#   tools/mutants.sh [REGEX]   only the mutants whose table line matches REGEX
#
# Needs python3. Environment: MUTANTS_DIR (scratch folder, default a new one under /tmp,
# removed at the end unless given), MUTANTS_JOBS (build and test jobs, 1),
# MUTANTS_TIMEOUT (seconds per test run, 900), MUTANTS_REV (a commit whose
# tree and tests to use instead of the working tree: a before figure),
# MUTANTS_MATRIX=1 (every test runs against every mutant, each for at most
# 30 seconds, and the tests that caught it are listed: which cases catch
# nothing the others miss; slower).
# Slow (one to two minutes per surviving mutant): not part of the CI run.
#
# Faults no test can see are left out: the row an ordered placement writes
# to when it has just read that very row (the bytes written there are
# overwritten later), and a compare-cache stretch used from its lowest key
# (its stored length is a word short of what was compared), and a stream's
# read-ahead never asked for or made short (the same bytes come, later). The guard size
# mutant shows only in the sanitizer build (.ci/sanitize.sh), which
# sees the reads in front of a 64-byte guard.
set -uo pipefail
# The whole script is read before it runs: editing it during a run is safe.
main() {
root="$(cd "$(dirname "$0")/.." && pwd)"
filter="${1:-.}"
jobs="${MUTANTS_JOBS:-1}"
limit="${MUTANTS_TIMEOUT:-900}"

# file ::: text ::: replacement
mutants=$(cat <<'EOF'
src/coder/model.cpp ::: f.shared_freq_shift = 12; ::: f.shared_freq_shift = 11;
src/coder/model.cpp ::: adapt_either(w[k], 8, one); ::: adapt_either(w[k], 7, one);
src/coder/model.cpp ::: if (t[0] >= prob_one) { ::: if (t[0] > prob_one) {
src/coder/model.cpp ::: (s + len) >> 1 ::: (s + len + 1) >> 1
src/coder/model.cpp ::: VORB_CHECK(c <= model_length_states - 3, ::: VORB_CHECK(c <= model_length_states - 2,
src/coder/model.cpp ::: VORB_CHECK(target < total * unit, ::: VORB_CHECK(true,
src/coder/number_encode.h ::: p ^ ((p ^ (prob_one - p)) & mask) ::: p ^ ((p ^ (prob_one - p - 1)) & mask)
src/coder/number_encode.h ::: c.low = c.rc.low; ::: (void)0;
src/archive/block_handoff.cpp ::: if (h.shows != x.w.shows || h.holder ::: if (h.holder
src/archive/block_handoff.cpp ::: return {h.shown.area_count - 1, h.shown.at}; ::: return {};
src/archive/block_handoff.cpp ::: h.drain_data, h.drain_len) ::: h.drain_data, h.drain_len / 2)
src/archive/block_handoff.cpp ::: x.h.drain_ok = x.ok; ::: x.h.drain_ok = true;
src/archive/block_handoff.cpp ::: out.drained = h.coder_out.drained; ::: (void)0;
src/archive/block_handoff.cpp ::: if (lend && !w.offered) offer(w, rc); ::: if (!w.offered) offer(w, rc);
src/archive/pack.cpp ::: handoff_reset(s.handoff); ::: (void)0;
src/archive/pack.cpp ::: if (!setup_slot(s, p.block_size)) { ::: if (false) {
src/coder/range_coder.cpp ::: if ((low ^ hi) >= (1u << 24) && range < rc_min_range) { ::: if ((low ^ hi) >= (1u << 24) && range < rc_min_range / 2) {
src/coder/range_coder.cpp ::: if (hi - o < o - low) ::: if (hi - o <= o - low)
src/coder/range_coder.cpp ::: for (int i = 0; i < 4; i++) {\n        rc_put_byte(rc); ::: for (int i = 0; i < 3; i++) {\n        rc_put_byte(rc);
src/coder/byte_stream.cpp ::: in.consumed += in.len; ::: in.consumed += 0;
src/coder/byte_stream.cpp ::: in.overread = true; ::: in.overread = false;
src/coder/byte_stream.cpp ::: o.pos)) o.failed = true; ::: o.pos)) {}
src/dc/dc_decode.cpp ::: VORB_CHECK(len <= max_n, ::: VORB_CHECK(true,
src/dc/dc_decode.cpp ::: VORB_CHECK(!seen[x], ::: VORB_CHECK(true,
src/dc/dc_runs.h ::: VORB_CHECK(e > i && e <= n, ::: VORB_CHECK(e > i,
src/dc/dc_encode.cpp ::: = pos - dc.last_pos[x] - k - 1; ::: = pos - dc.last_pos[x] - k;
src/dc/block_code.cpp ::: reset_models(nc.models); ::: (void)0;
src/dc/dc_encode.h ::: if (other) return e + __builtin_ctz(other); ::: if (other) return e + __builtin_ctz(other) / 2;
src/dc/dc_encode.h ::: for (; e + 16 <= n; e += 16) { ::: for (; e + 15 <= n; e += 16) {
src/coder/range_coder.h ::: & (range >= rc_min_range); ::: & (range >= rc_min_range / 2);
src/dc/block_symbols.cpp ::: VORB_CHECK(p < static_cast<uint32_t>(n), ::: VORB_CHECK(p <= static_cast<uint32_t>(n),
src/inverse/invert_block.cpp ::: constexpr int32_t packed_rows_limit = 1 << 24; ::: constexpr int32_t packed_rows_limit = 1 << 25;
src/inverse/invert_block.cpp ::: static_cast<uint32_t>(bucket_start[y]++); ::: static_cast<uint32_t>(bucket_start[y]);
src/dc/dc_runs.h ::: value_count[s] += e - i; ::: value_count[s] += 1;
src/archive/member_decode_serial.cpp ::: if (f != Status::ok) st = f; ::: (void)f;
src/coder/model.cpp ::: cmovael %[moved], %[low] ::: cmovbl %[moved], %[low]
src/coder/model.cpp ::: (iv.range & ~(prob_one - 1)) - bound; ::: (iv.range & ~prob_one) - bound;
src/coder/model.cpp ::: if (iv.code - iv.low >= bound) { ::: if (iv.code - iv.low > bound) {
src/coder/model.cpp ::: rc.code = iv.code;\n    rc_normalize ::: rc_normalize
src/coder/model.cpp ::: rc.code = iv.code;\n    r.length_state ::: r.length_state
src/dc/dc_runs_sse2.cpp ::: store_eight(packed + end, kept); ::: (void)kept;
src/dc/dc_runs_sse2.cpp ::: _mm_add_epi32(limit, four)))) << 4; ::: limit))) << 4;
src/dc/dc_runs.h ::: if (e - i <= 8 && i + 8 <= n) { ::: if (e - i <= 9 && i + 8 <= n) {
src/dc/dc_runs_sse2.cpp ::: const int32_t at = j + 32 - ::: const int32_t at = j + 31 -
src/dc/dc_runs_sse2.cpp ::: store_eight(packed + at - 8, kept); ::: (void)kept;
src/dc/dc_runs_sse2.cpp ::: at++;\n            continue; ::: continue;
src/dc/dc_runs_sse2.cpp ::: std::min(packed[2] >> 8, c + 1) : n; ::: packed[2] >> 8 : n;
src/dc/dc_runs_sse2.cpp ::: s = static_cast<uint8_t>(packed[1]); ::: s = static_cast<uint8_t>(packed[0]);
src/dc/dc_runs_sse2.cpp ::: place_again_packed(packed, c, placed); ::: place_again_packed(packed, c, s);
src/dc/dc_runs_sse2.cpp ::: std::memmove(room + list_front, packed, ::: std::memmove(room + list_front + 1, packed,
src/dc/dc_runs_avx512.cpp ::: _mm512_slli_epi32(k, 8) ::: _mm512_slli_epi32(k, 7)
src/dc/dc_decode.cpp ::: VORB_CHECK(pos[0] == 0, ::: VORB_CHECK(true,
src/dc/dc_decode.cpp ::: VORB_CHECK(i == 0 || pos[i - 1] != ::: VORB_CHECK(true || pos[i - 1] !=
src/dc/dc_runs_portable.cpp ::: for (; packed[j] < (c + j) << 8; j++) ::: for (; packed[j] < (c + j + 1) << 8; j++)
src/dc/dc_runs_portable.cpp ::: pos[k] = c + k; ::: pos[k] = c + k + 1;
src/dc/dc_runs_sse2.cpp ::: pos[k] = c + k; ::: pos[k] = c + k - 1;
src/dc/dc_runs_avx512.cpp ::: _mm512_add_epi32(limit, one) ::: limit
src/dc/dc_runs_avx512.cpp ::: next, here, 1); ::: next, here, 2);
src/dc/dc_runs_avx512.cpp ::: _mm512_mask_or_epi32(here, to_place, limit, value) ::: _mm512_mask_mov_epi32(here, to_place, value)
src/dc/dc_runs_avx512.cpp ::: e = std::min(packed[2] >> 8, c + 1); ::: e = packed[2] >> 8;
src/dc/dc_runs_avx512.cpp ::: packed + 16 * (vectors + 1), INT32_MAX ::: packed + count, INT32_MAX
src/dc/dc_runs.h ::: dd.upcoming_pos[j] = packed[j] >> 8; ::: dd.upcoming_pos[j] = packed[j] >> 7;
src/dc/dc_runs_avx512.cpp ::: (c + 32) << 8) return 2; ::: (c + 32) << 8) return 1;
src/dc/dc_runs_avx512.cpp ::: packed[64] >= (c + 64) << 8 ::: packed[64] >= (c + 63) << 8
src/inverse/invert_block.cpp ::: VORB_CHECK(p != last && r != p0, ::: VORB_CHECK(true,
src/inverse/invert_block.cpp ::: VORB_CHECK(p == r, ::: VORB_CHECK(true,
src/inverse/invert_block.cpp ::: if (m > h) {\n        VORB_CHECK(r != p0, ::: if (m > h) {\n        VORB_CHECK(true,
src/inverse/invert_block.cpp ::: for (int32_t i = primary + 1; i < n; i++) links[i] ::: for (int32_t i = primary + 2; i < n; i++) links[i]
src/inverse/many_walks.cpp ::: if (written != rows) return Status::bad_transform; ::: (void)0;
src/sort/bucket_sort.cpp ::: if ((varying >> (8 * d)) & 255) ::: if ((varying >> (8 * d)) & 127)
src/sort/bucket_sort.cpp ::: ++next[(pair >> then) & 255]; ::: ++next[(pair >> at) & 255];
src/sort/bucket_sort.cpp ::: varying |= entries[i].pair ^ entries[0].pair; ::: varying |= (entries[i].pair ^ entries[0].pair) >> 8;
src/sort/forward.cpp ::: deep_work_per_byte = 24; ::: deep_work_per_byte = 2;
src/sort/forward.cpp ::: if (!sorted && !s.over_budget) return false; ::: (void)0;
src/sort/forward.cpp ::: const bool take = (w < n) & (j < to); ::: const bool take = (w + 1 < n) & (j < to);
src/sort/forward.cpp ::: index[n + ((to - n) & -static_cast<int32_t>(take))] = w; ::: index[n + ((to - n) & static_cast<int32_t>(take))] = w;
src/sort/forward.cpp ::: if (next <= c) index ::: if (next < c) index
src/sort/bigram.cpp ::: fill[k] += (c > data[i + 1]) & (c >= data[i - 1]); ::: fill[k] += (c > data[i + 1]) & (c > data[i - 1]);
src/sort/period_run.cpp ::: const bool upward = context_byte(s, brk) > context_byte(s, brk + q); ::: const bool upward = context_byte(s, brk) < context_byte(s, brk + q);
src/sort/period_run.cpp ::: s.failed = true; ::: s.failed = false;
src/sort/context_sort.cpp ::: if (sa[i] > 0 && !m.smaller[j]) ::: if (sa[i] > 1 && !m.smaller[j])
src/sort/repetition.cpp ::: return ka > kb ? best->high_greater : 1 - best->high_greater; ::: return ka > kb ? 1 - best->high_greater : best->high_greater;
src/sort/repetition.cpp ::: e.filled && e.distance == distance ::: e.filled && e.distance >= distance
src/sort/repetition.cpp ::: const int32_t length = 4 * equal_words - 4; ::: const int32_t length = 4 * equal_words;
src/sort/period_run.cpp ::: const int32_t agreed = key_depth(key) - 3; ::: const int32_t agreed = key_depth(key) - 2;
src/sort/repetition.cpp ::: if (partner < 1 || !is_final(s, partner)) return false; ::: if (partner < 0 || !is_final(s, partner)) return false;
src/sort/keys.h ::: |= uint64_t{1} << (*p & 63); ::: |= uint64_t{1} << (*p & 31);
src/sort/repetition.cpp ::: const int32_t farthest = std::min(known - 3, finished_offset_max); ::: const int32_t farthest = std::min(known - 1, finished_offset_max);
src/sort/repetition.cpp ::: const bool finished = selected == 1 || ::: const bool finished = true ||
src/sort/repetition.cpp ::: std::memset(s.finished_buckets, 0, sizeof s.finished_buckets); ::: (void)0;
src/sort/bucket_share.cpp ::: s.finished_buckets[k >> 6] |= uint64_t{1} << (k & 63); ::: s.finished_buckets[k >> 6] |= uint64_t{1} << ((k + 1) & 63);
src/dc/block_buffers.cpp ::: return entries > 0 && populate_for_writing(b.index, entries * sizeof(int32_t)); ::: return entries > 0 && (std::memset(b.index, 0, entries * 4), true);
src/dc/block_buffers.cpp ::: return entries > 0 && populate_for_writing ::: return populate_for_writing
src/dc/block_buffers.cpp ::: populate_for_writing(b.index, entries * sizeof(int32_t)) ::: populate_for_writing(b.index, entries)
src/dc/block_buffers.cpp :::     return madvise(reinterpret_cast<void*>(from) :::     return true || madvise(reinterpret_cast<void*>(from)
src/sort/bigram.h ::: return data[v - 1] > data[v] && data[v - 1] >= data[v - 2]; ::: return data[v - 1] >= data[v] && data[v - 1] >= data[v - 2];
src/dc/block_buffers.h ::: guard_bytes = 4004; ::: guard_bytes = 64;
src/archive/header.cpp ::: VORB_CHECK(h.block_size != 0 && h.block_size <= max_block_size, ::: VORB_CHECK(h.block_size <= max_block_size,
src/archive/header.cpp ::: VORB_CHECK(c == ch, Status::bad_signature); ::: VORB_CHECK(true, Status::bad_signature);
src/archive/names.cpp ::: if (name.size() < max_name_length) ::: if (name.size() <= max_name_length)
src/archive/entry.cpp ::: VORB_CHECK(c < 0, Status::trailing_bytes); ::: VORB_CHECK(true, Status::trailing_bytes);
src/archive/member_decode.cpp ::: if (in.overread) return Status::truncated; ::: (void)0;
src/archive/member_decode.cpp ::: if (in.read_error) return Status::read_failed; ::: (void)0;
src/archive/member_decode_serial.cpp ::: return out.failed ? Status::write_failed : Status::ok; ::: return Status::ok;
src/archive/member_decode_threaded.cpp ::: return out.failed ? Status::write_failed : Status::ok; ::: return Status::ok;
src/archive/member_decode_threaded.cpp ::: std::memcpy(s.counts, d.bd->dd.value_count, sizeof s.counts); ::: (void)0;
src/archive/member_decode_threaded.cpp ::: d.in->pos = d.in->len - (f.feed.len - f.feed.pos); ::: d.in->pos = d.in->len;
src/archive/member_decode_threaded.cpp ::: if (f.read_error) f.feed.read_error = true; ::: (void)0;
src/archive/member_decode_threaded.cpp ::: VORB_TRY(s.status);\n    progress_put ::: progress_put
src/archive/pack.cpp ::: VORB_CHECK(s.sorted, Status::out_of_memory); ::: (void)0;
src/archive/pack.cpp ::: return out.failed ? Status::write_failed : Status::ok; ::: return Status::ok;
src/archive/pack.cpp ::: if (open) feed.close(feed.ctx, reading); ::: (void)open;
src/archive/pack.cpp ::: if (reading == count || out.failed) break; ::: if (reading == count) break;
src/archive/pack.cpp ::: while (!threaded && !r.steps.empty() && st == Status::ok) st = take_step(r); ::: (void)threaded;
src/archive/pack.cpp ::: r.members.front().start = bytes_out(r.out); ::: r.members.front().start = 0;
src/archive/pack.cpp ::: while (st == Status::ok && !r.steps.empty()) st = take_step(r); ::: while (st == Status::ok && r.steps.size() > 1) st = take_step(r);
src/api/api_writer.cpp ::: VORB_CHECK(given.meta->mtime_nsec < nanoseconds_per_second ::: VORB_CHECK(given.meta->mtime_nsec <= nanoseconds_per_second
src/api/api_writer.cpp ::: count > w->member_count - w->entries_written) ::: count > w->member_count)
src/api/api_writer.cpp ::: return present ? Status::ok : note_absent(w, b.names[i]); ::: return Status::ok;
src/archive/ordered_pipeline.cpp ::: Job* j = p.pending.front();\n    p.pending.pop_front(); ::: Job* j = p.pending.back();\n    p.pending.pop_back();
src/archive/worker_pool.cpp ::: (*i)->priority > (*next)->priority)) ::: (*i)->priority >= (*next)->priority))
src/archive/worker_pool.cpp ::: (!(*i)->idle_only || ::: (true ||
src/coder/step_record.cpp ::: where = {i, end}; ::: where = {i, nullptr};
src/dc/block_code.cpp ::: if (!replayed) replay_steps(nc.rc, b.record); ::: replay_steps(nc.rc, b.record);
src/dc/block_code.cpp ::: r.end = r.at + progress->chunk_words; ::: (void)0;
src/archive/pack.cpp ::: steps_finish(s.steps, *p.nc, threaded); ::: steps_finish(s.steps, *p.nc, false);
src/archive/block_handoff.cpp ::: x.h.record_ended = x.ended; ::: x.h.record_ended = true;
src/sort/bucket_share.cpp ::: } else if (!theirs || !cut_span(s, *theirs, own, true, b.cutting)) { ::: } else if (true) {
src/sort/bucket_share.cpp ::: into.store(span_of(cut, hi) ::: into.store(span_of(cut + 1, hi)
src/sort/bucket_share.cpp ::: std::memcpy(h.bigram_fill, o.bigram_fill, sizeof h.bigram_fill); ::: (void)0;
src/sort/bucket_share.cpp ::: s.over_budget = b.helper_over_budget; ::: (void)0;
src/sort/bucket_share.cpp ::: const uint32_t next = k < hi ? k + 1 : hi; ::: const uint32_t next = k < hi ? k : hi;
src/archive/worker_pool.cpp ::: p.queue.erase(queued);\n        j.done = true; ::: j.done = true;
src/inverse/many_walks.cpp ::: if (helpers) helpers->dismiss(helpers->ctx); ::: (void)0;
src/archive/worker_pool.cpp ::: lock.unlock();\n        j->run(j->ctx);\n        lock.lock();\n        j->done = true; ::: j->done = true;\n        lock.unlock();\n        j->run(j->ctx);\n        lock.lock();
src/archive/index_nodes.cpp ::: VORB_CHECK(count <= (end - pos) / index_node_record_size, ::: VORB_CHECK(true,
src/archive/index_nodes.cpp ::: if (path_length > max_name_length) return ::: if (path_length > max_name_length + 1) return
src/archive/index_nodes.cpp ::: if (target_length > index_max_link_length) return ::: if (target_length > index_max_link_length + 1) return
src/archive/index_nodes.cpp ::: if (n.kind == index_node_folder && target_length != 0) return ::: if (false) return
src/archive/index_nodes.cpp ::: if (n.path.find('\0') != std::string::npos) return ::: if (false) return
src/archive/index_format.cpp ::: VORB_CHECK(!last || b.checksum == 0, ::: VORB_CHECK(true,
src/archive/index_format.cpp ::: if (index.version != index_version_1) b.checksum = get_le(r + 20, 8); ::: (void)0;
src/archive/member_decode_indexed.cpp ::: checksum_of(s.buffers.block_start, static_cast<size_t>(s.n)) == rec->checksum, ::: true,
src/archive/member_decode_indexed.cpp ::: VORB_CHECK(s.status != Status::truncated, Status::bad_block_end); ::: (void)0;
src/archive/pack.cpp ::: s.checksum = checksum_of(s.buffers.block_start, static_cast<size_t>(got)); ::: s.checksum = 0;
src/archive/stream_check.cpp ::: checksum_add(c.archive, c.in->buf, c.in->pos); ::: (void)0;
src/archive/stream_check.cpp ::: if (got.unpacked && got.checksum != want.checksum) ::: if (got.checksum != want.checksum)
src/archive/stream_check.cpp ::: if (got.entry_checksum != want.entry_checksum) return "stored name"; ::: (void)0;
src/api/api_writer.cpp ::: w->finished = true; ::: (void)0;
src/api/api_reader.cpp ::: noted.checksum = checksum_value(h.sum); ::: noted.checksum = 0;
src/api/api_reader.cpp ::: if (header != Status::ok || r->header.block_size != r->index.block_size) ::: if (header != Status::ok)
src/api/api_reader.cpp ::: k < r->decoder.failed_block; k++) ::: k <= r->decoder.failed_block; k++)
src/cli/pack_files.cpp ::: if (st == VORB_OK && !target.temp_name.empty() && (target.target_existed || replacement_target_changed(target))) { ::: if (false) {
src/cli/pack_files.cpp ::: (target.target_existed || replacement_target_changed(target)) ::: replacement_target_changed(target)
src/archive/index_format.cpp ::: return lost <= signature_bits_lost_at_most && ::: return lost < 0 &&
src/archive/entry.cpp ::: const size_t from = length < rest.size() && length >= index_min_size ? rest.size() - length : 0; ::: const size_t from = 0;
src/cli/options.cpp ::: if (!options_ended && std::strcmp(argv[i], "--") == 0) { ::: if (false) {
src/cli/cli.cpp ::: if (con.out == stdout && std::ferror(stdout)) { ::: if (false) {
src/cli/unpack.cpp ::: if (bytes % (1u << 10) == 0) return ::: if (false) return
src/api/api_reader.cpp ::: if (r->failed != Status::ok) return to_api(r->failed); ::: (void)0;
src/api/api_reader.cpp ::: if (r->entries_read == r->header.member_count) { ::: if (r->entries_read > r->header.member_count) {
src/api/api_reader.cpp ::: if (!r || !r->ended) return VORB_ERR_PARAM; ::: if (!r) return VORB_ERR_PARAM;
src/api/api_reader.cpp ::: if (!flush_out(out) && st == Status::ok) st = Status::write_failed; ::: (void)flush_out(out);
src/api/api_writer.cpp ::: std::strlen(name) > max_name_length) ::: std::strlen(name) > max_name_length + 1)
src/api/api_writer.cpp ::: if (!w || !w->begun || w->finished || w->entries_written != w->member_count) return VORB_ERR_PARAM; ::: if (!w || !w->begun || w->finished) return VORB_ERR_PARAM;
src/api/api_streams.cpp ::: c.in.read_error = true; ::: c.in.read_error = false;
src/api/api_streams.h ::: into.swap(r.buffer); ::: (void)0;
src/api/api_streams.h ::: r.held = false;\n    got = r.got; ::: got = r.got;
src/api/api_streams.h ::: got = r.got; ::: got = 0;
src/api/api_streams.cpp ::: a.next += n; ::: a.next += n + 1;
src/api/api_alloc.h ::: return Status::out_of_memory; ::: return Status::ok;
src/api/api_alloc.h ::: return VORB_ERR_MEMORY; ::: return VORB_OK;
src/api/api_alloc.h ::: if (st == Status::ok) return t; ::: if (t) return t;
src/api/api_member.cpp ::: Status st = or_out_of_memory([&] {\n        return pack_member( ::: Status st = ([](auto f) { return f(); })([&] {\n        return pack_member(
src/cli/member_place.cpp ::: if (part == "..") ::: if (part == "../")
src/cli/member_place.cpp ::: O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC; ::: O_DIRECTORY | O_CLOEXEC;
src/cli/replace_file.cpp ::: if (::fchmod(r.fd, mode) != 0) return fail(r, errno); ::: (void)mode;
src/cli/replace_file.cpp ::: mode = replaced->st_mode & 0777; ::: (void)0;
src/cli/replace_file.cpp ::: if (::renameat(r.dir_fd, r.temp_name.c_str(), r.dir_fd, r.name.c_str()) == 0) ::: if (true)
src/cli/replace_file.cpp ::: if (!r.temp_name.empty()) ::unlinkat(r.dir_fd, r.temp_name.c_str(), 0); ::: (void)0;
src/cli/replace_file.cpp ::: if (use == TargetUse::named && !resolve_named(target)) { ::: if (false) {
src/cli/signal_cleanup.cpp ::: slot_filling)) ::unlinkat(s.dir_fd, s.name, 0); ::: slot_filling)) {}
src/cli/run_result.h ::: constexpr int status_usage = -1; ::: constexpr int status_usage = -2;
src/cli/pack_files.cpp ::: if (missing > 0) ::: if (missing > 1)
src/cli/pack_files.cpp ::: list.item_count > VORB_MAX_MEMBERS ::: list.item_count >= VORB_MAX_MEMBERS
src/cli/tree_walk.cpp ::: if (path.size() <= VORB_MAX_NAME_LENGTH) return true; ::: if (path.size() < VORB_MAX_NAME_LENGTH) return true;
src/cli/pack_files.cpp ::: if (member.exists && member.dev == archive.dev && member.ino == archive.ino) ::: if (false)
src/cli/pack_files.cpp ::: || !starts_like_archive(dir_fd, name)) ::: || false)
src/cli/unpack.cpp ::: if (st == VORB_ERR_READ) return archive_error(st, arc); ::: (void)0;
src/cli/unpack.cpp ::: place.name, TargetUse::member); ::: place.name, TargetUse::named);
src/cli/unpack.cpp ::: if (skipped > 0) ::: if (skipped > 1)
src/cli/verify_list.cpp ::: if (damaged > 0) ::: if (damaged > 1)
src/cli/cli.cpp ::: con.out = stderr; ::: (void)0;
src/cli/cli.cpp ::: if (opt.to_stdout && !filter && command != 'd') ::: if (false)
src/cli/cli.cpp ::: !u.directory.empty() && !is_directory(u.directory) ::: false
src/cli/console.cpp ::: if (::isatty(STDIN_FILENO)) (void)std::getchar(); ::: (void)std::getchar();
src/cli/console.cpp ::: if (!c.quiet) std::fputs(text, c.out); ::: std::fputs(text, c.out);
src/cli/console.cpp ::: if (u < 0x20 || u == 0x7F) ::: if (u < 0x1b)
src/cli/console.cpp ::: std::fputs("\bW", out); ::: std::fputc('W', out);
tests/layer_check.sh ::: dc) echo "common coder dc" ;; ::: dc) echo "common coder dc sort" ;;
tests/layer_check.sh ::: [ "$layer" != cli ] && why ::: true && why
tests/layer_check.sh ::: */*) why="cli sees only vorb.h and its own files" ;; ::: */*) ;;
src/archive/pack.cpp ::: sort_started);\n        progress_put(progress, ProgressEvent::sort_ended); ::: sort_started);
src/cli/options.cpp ::: parse_number(value, 1, max_block_mib, n) ::: parse_number(value, 0, max_block_mib, n)
src/archive/entry_probe.cpp ::: if (p[i] < 0x20 || p[i] == 0x7F) return 0; ::: if (p[i] < 0x20) return 0;
src/archive/entry_probe.cpp ::: std::min(avail, max_name_length + 1) ::: std::min(avail, max_name_length + 2)
src/archive/entry_probe.cpp ::: if (x > 255) return false; ::: if (x > 254) return false;
src/archive/entry_probe.cpp ::: ok && n <= block_size; ::: ok;
src/archive/entry_probe.h ::: return rc.code == rc.low; ::: return true;
src/archive/entry_search.cpp ::: if (c == Candidate::no) break; ::: if (c == Candidate::no) {\n            confirmed = true;\n            return Status::ok;\n        }
src/archive/entry_search.cpp ::: if (avail - stream_at < 4 || budget.probes_left == 0) return Candidate::no;\n    budget.probes_left--; ::: if (avail - stream_at < 4) return Candidate::no;
src/archive/salvage_plain.cpp ::: r.next_entry_from = held_end; ::: (void)0;
src/archive/salvage_plain.cpp ::: if (full_block(static_cast<uint32_t>(n), d.block_size)) { ::: if (false) {
src/archive/salvage_plain.cpp ::: r.end_matches = stream_end_matches(nc.rc); ::: r.end_matches = true;
src/archive/salvage_indexed.cpp ::: index.version == index_version_1 || checksum_of ::: true || checksum_of
src/archive/salvage_indexed.cpp ::: lost_add(lost, r.written, len); ::: lost_add(lost, r.written, len - 1);
src/archive/salvage_indexed.cpp ::: r.checksum_matched || (index.version ::: r.checksum_matched && (index.version
src/archive/lost_ranges.cpp ::: if (r.length != 0 && offset == r.offset + r.length) { ::: if (false) {
src/archive/salvage.cpp ::: ==\n                             x.entry_checksum; ::: !=\n                             x.entry_checksum + 0 || true;
src/archive/salvage.cpp ::: if (m.saved == 0) s.damage_from = s.current.offset; ::: (void)0;
src/archive/salvage.cpp ::: if (s.entries_seen >= s.announced) return ::: if (false) return
src/archive/salvage.cpp ::: s.block_size = s.header_damaged ? default_block_size : h.block_size; ::: s.block_size = h.block_size;
src/cli/salvage.cpp ::: existing_size(target) > saved) { ::: false) {
src/cli/tree_walk.cpp ::: std::sort(names.begin(), names.end()); ::: (void)0;
src/cli/tree_walk.cpp ::: else if (names.empty()) ::: else if (false)
src/cli/pack_files.cpp ::: missing += static_cast<int>(list.refused.size()); ::: (void)0;
src/cli/pack_files.cpp ::: if (list.stdin_twice) ::: if (false)
src/cli/cli.cpp ::: (opt.decompress || !::isatty(STDIN_FILENO)) ::: (opt.decompress)
src/cli/cli.cpp ::: (opt.decompress || !::isatty(STDIN_FILENO)) ::: (true)
src/cli/cli.cpp ::: p.index = opt.index.value_or(filter) || ::: p.index = opt.index.value_or(false) ||
src/cli/cli.cpp ::: if (data_on_stdout) ::signal(SIGPIPE, SIG_DFL); ::: (void)0;
src/cli/cli.cpp ::: if (filter) con.quiet = true; ::: (void)0;
src/cli/options.cpp ::: if (o.error.empty() && end < count) ::: if (false)
src/cli/options.cpp ::: case 'I': o.index = false; break; ::: case 'I': break;
src/cli/file_io.cpp ::: static_cast<off_t>(f.base + offset) ::: static_cast<off_t>(offset)
src/cli/file_io.cpp ::: { return in_file_size(f) != UINT64_MAX; } ::: { return f.fd != STDIN_FILENO; }
src/cli/file_io.cpp ::: while (got < len) { ::: while (got == 0) {
src/cli/file_io.cpp ::: if (got > 0 && !more_comes_soon(f.fd)) break; ::: (void)0;
src/cli/file_io.cpp ::: std::min(got, kept_head_bytes - f.head_len) ::: std::min(got, size_t{4})
src/cli/tree_walk.cpp ::: S_ISLNK(cs.st_mode) && w.keep_nodes ::: S_ISLNK(cs.st_mode)
src/cli/tree_walk.cpp ::: if (w.keep_nodes)\n        w.list.nodes ::: if (false)\n        w.list.nodes
src/cli/pack_files.cpp ::: st = vorb_writer_add_node(w, &n); ::: (void)n;
src/cli/restore_nodes.cpp ::: || !selected(sel, n.path)) continue; ::: ) continue;
src/cli/restore_nodes.cpp ::: times, AT_SYMLINK_NOFOLLOW) != 0) ::: times, 0) != 0)
src/cli/restore_nodes.cpp ::: return for_link ? "a folder is in its place" : nullptr; ::: return nullptr;
src/cli/restore_nodes.cpp ::: ::fchmod(fd, f.meta.mode & 0777) != 0 || ::: false ||
src/cli/unpack.cpp ::: if (unrestored > 0) ::: if (false)
src/sort/bigram.cpp ::: runs[data[i + 1]] |= uint16_t(1u << (data[i] / bucket_scan_run)); ::: runs[data[i + 1]] |= uint16_t(1u << (data[i + 1] / bucket_scan_run));
src/sort/bigram.cpp ::: if (m != 0 && !(m & 1)) start[h * 256] = fill[h * 256] = t; ::: (void)0;
src/sort/bigram.cpp ::: if (r == h / bucket_scan_run) fill[h * 257] = t; ::: (void)0;
src/sort/bigram.cpp ::: start[first + bucket_scan_run] = t; ::: (void)0;
src/sort/bigram.cpp ::: start[h * 256] = fill[h * 256] = fill[h * 257] = t; ::: start[h * 256] = fill[h * 256] = t;
src/sort/bucket_share.cpp ::: s.bigram_start[k] == s.bigram_start[k + 256] ::: s.bigram_start[k] <= s.bigram_start[k + 256]
src/sort/bucket_share.cpp ::: any |= static_cast<int32_t>(selected(s, k + j) >= 2); ::: any |= static_cast<int32_t>(selected(s, k + j) >= 3);
src/sort/forward.cpp ::: k + 1, bucket_scan_run * sizeof(int32_t)); ::: k + 1, (bucket_scan_run - 1) * sizeof(int32_t));
src/sort/bucket_share.cpp ::: if (!helper || s.n < find_runs_below) { ::: if (!helper) {
src/archive/recovery_layout.cpp ::: VORB_CHECK(l.data_units == ceil_div(n, l.stripes), ::: VORB_CHECK(true,
src/archive/recovery_layout.cpp ::: VORB_CHECK(l.data_units + l.parity_units <= record_max_stripe_units, ::: VORB_CHECK(true,
src/archive/recovery_layout.cpp ::: l.unit_size % record_unit_step == 0, ::: true,
src/archive/recovery_layout.cpp ::: VORB_CHECK(l.record_size == record_size_of(l), ::: VORB_CHECK(true,
src/archive/recovery_layout.cpp ::: return (record_parity_count(l) - 1) * l.unit_size + 1; ::: return record_parity_count(l) * l.unit_size + 1;
src/archive/recovery_layout.cpp ::: (stripe + m.stripes - m.count % m.stripes) % m.stripes; ::: stripe;
src/archive/recovery_check.cpp ::: return offset == l.data_size || offset + record_header_size ::: return true || offset + record_header_size
src/archive/recovery_check.cpp ::: good[g] = (g + 1) * record_chunk_size <= got && ::: good[g] = true || (g + 1) * record_chunk_size <= got &&
src/archive/recovery_check.cpp ::: for (const int row : erased) good[map_piece(m, s, static_cast<uint32_t>(row))] = true; ::: (void)0;
src/archive/recovery_check.cpp ::: if (lost > l.parity_units) beyond++; ::: if (lost >= l.parity_units) beyond++;
src/archive/recovery_check.cpp ::: if (at + u > skip + got) { ::: if (at + u >= skip + got) {
src/archive/recovery_tail.cpp ::: first, sizeof first) == 0 ? RecordSeen::intact : RecordSeen::damaged; ::: first, sizeof first) == 0 ? RecordSeen::intact : RecordSeen::intact;
src/archive/recovery_repair.cpp ::: VORB_CHECK(parity_rows.size() == erased.size(), Status::beyond_repair); ::: (void)0;
src/archive/recovery_build.cpp ::: const size_t filled = lead + got; ::: const size_t filled = got;
src/archive/erasure_code.cpp ::: v ^= gf_mul(inv[j], coef(parity_rows[j], c)); ::: v = gf_mul(inv[j], coef(parity_rows[j], c));
src/api/api_streams.cpp ::: a.end = seen != RecordSeen::none ? layout.data_size : source.size; ::: a.end = source.size;
src/api/api_reader.cpp ::: return to_api(st == Status::ok && record_damaged_before ? Status::damaged_record : st); ::: return to_api(st);
src/cli/cli.cpp ::: p.index = opt.index.value_or(filter) || opt.recovery != 0; ::: p.index = opt.index.value_or(filter);
src/cli/recovery_note.cpp ::: !(res.status != 0 || (testing && recorded)) ::: !(res.status != 0)
EOF
)

# The slow whole-program suites run last: most mutants die in the quick ones.
slow='^(RoundTrip|DamagedArchive|Threads)\.'

work="${MUTANTS_DIR:-}"
keep_work=1
if [ -z "$work" ]; then
  work=$(mktemp -d /tmp/vorb-mutants-XXXXXX)
  keep_work=0
fi
tree="$work/tree"
build="$work/build"
log="$work/log"
mkdir -p "$tree" "$log"
cleanup() { [ "$keep_work" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT

# The tracked and new files of the working tree, never the tree itself.
# Staged, then only the files that differ are written into the reused tree,
# with a new time, so the build folder rebuilds exactly what changed.
stage="$work/stage"
rm -rf "$stage" && mkdir -p "$stage"
if [ -n "${MUTANTS_REV:-}" ]; then
  git -C "$root" archive "$MUTANTS_REV" | tar -C "$stage" -xf -
else
  (cd "$root" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -C "$stage" -xf -
fi
python3 - "$stage" "$tree" <<'PY'
import filecmp, os, shutil, sys
stage, tree = sys.argv[1], sys.argv[2]
wanted = set()
for d, _, files in os.walk(stage):
    for f in files:
        rel = os.path.relpath(os.path.join(d, f), stage)
        wanted.add(rel)
        src, dst = os.path.join(stage, rel), os.path.join(tree, rel)
        if not os.path.isfile(dst) or not filecmp.cmp(src, dst, shallow=False):
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copyfile(src, dst)
            shutil.copymode(src, dst)
for d, _, files in os.walk(tree):
    for f in files:
        if os.path.relpath(os.path.join(d, f), tree) not in wanted:
            os.remove(os.path.join(d, f))
PY

# The slowest case takes about ten seconds in this Release build, so a
# mutant that deadlocks a case is caught in two minutes rather than ten.
case_limit=120
[ "${MUTANTS_MATRIX:-0}" = 1 ] && case_limit=30
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORB_BUILD_TESTS=ON -DVORB_TEST_TIMEOUT="$case_limit" \
  >"$log/configure" 2>&1 || {
  echo "configure failed: $log/configure" >&2; exit 1; }
# Everything the suite runs: the program, the tests, the shared library (its
# exports check) and the examples.
build_all() { cmake --build "$build" -j"$jobs" >"$1" 2>&1; }
run_suite() {
  # A mutant that never ends a stream must not fill the disk: 4 GiB per file.
  if [ "${MUTANTS_MATRIX:-0}" = 1 ]; then
    (ulimit -f 4194304 && cd "$build" && timeout -k 30 "$limit" ctest -j"$jobs" --timeout 30 >"$1" 2>&1)
    return
  fi
  (ulimit -f 4194304 && cd "$build" && timeout -k 30 "$limit" ctest -j"$jobs" --stop-on-failure -E "$slow" >"$1" 2>&1 &&
    timeout -k 30 "$limit" ctest -j"$jobs" --stop-on-failure -R "$slow" >>"$1" 2>&1)
}
# The tests that failed in a suite's log, on one line.
caught_by() { sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*$/\1/p' "$1" | sort | tr '\n' ' '; }
echo "baseline build and suite in $work ..."
build_all "$log/baseline-build" || { echo "the unmutated tree does not build: $log/baseline-build" >&2; exit 1; }
run_suite "$log/baseline-test" || { echo "the unmutated tree fails its tests: $log/baseline-test" >&2; exit 1; }

# Replaces every occurrence; exit 3 when the text is absent.
apply() {
  python3 - "$1" "$2" "$3" <<'PY'
import sys
path, find, repl = sys.argv[1], sys.argv[2].replace("\\n", "\n"), sys.argv[3].replace("\\n", "\n")
text = open(path, encoding="utf-8").read()
if find not in text:
    sys.exit(3)
open(path, "w", encoding="utf-8").write(text.replace(find, repl))
PY
}

killed=0 survived=0 invalid=0 number=0
survivors=() invalids=()
while IFS= read -r line; do
  [ -n "$line" ] || continue
  file="${line%% ::: *}"
  rest="${line#* ::: }"
  find="${rest%% ::: *}"
  repl="${rest#* ::: }"
  number=$((number + 1))
  [[ "$line" =~ $filter ]] || continue
  label="#$number $file: $find -> $repl"
  if [ ! -f "$tree/$file" ]; then
    invalid=$((invalid + 1)); invalids+=("$label (no such file)")
    echo "invalid   $label (no such file)"
    continue
  fi
  cp "$tree/$file" "$work/original"
  if ! apply "$tree/$file" "$find" "$repl"; then
    invalid=$((invalid + 1)); invalids+=("$label (text not found)")
    echo "invalid   $label (text not found)"
    continue
  fi
  if ! build_all "$log/build-$number"; then
    verdict=invalid; invalid=$((invalid + 1)); invalids+=("$label (does not compile)")
  elif run_suite "$log/test-$number"; then
    verdict=SURVIVED; survived=$((survived + 1)); survivors+=("$label")
  else
    verdict=killed; killed=$((killed + 1))
  fi
  echo "$verdict   $label"
  [ "${MUTANTS_MATRIX:-0}" = 1 ] && [ "$verdict" = killed ] && echo "          caught by: $(caught_by "$log/test-$number")"
  cp "$work/original" "$tree/$file"
done <<<"$mutants"
# The last restore must be rebuilt too if the folder is reused.
build_all "$log/final-build" || true

valid=$((killed + survived))
echo
echo "killed:   $killed"
echo "survived: $survived"
echo "invalid:  $invalid"
[ "$valid" -gt 0 ] && awk -v k="$killed" -v v="$valid" 'BEGIN { printf "kill rate: %.1f %% of %d valid mutants\n", 100 * k / v, v }'
if [ ${#survivors[@]} -gt 0 ]; then
  echo "survivors:"
  printf '  %s\n' "${survivors[@]}"
fi
if [ ${#invalids[@]} -gt 0 ]; then
  echo "invalid:"
  printf '  %s\n' "${invalids[@]}"
fi
[ "$keep_work" = 1 ] && echo "logs in $log"
exit 0
}
main "$@"
