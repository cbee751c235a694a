// Version, status texts and the memory query.
#include "api/api_streams.h"
#include "archive/member_decode.h"
#include "archive/pack.h"
#include "common/status.h"
#include "dc/block_buffers.h"

// The public enum mirrors the internal one value for value.
static_assert(VORB_OK == static_cast<int>(Status::ok));
static_assert(VORB_END == static_cast<int>(Status::end));
static_assert(VORB_ERR_PARAM == static_cast<int>(Status::bad_parameter));
static_assert(VORB_ERR_MEMORY == static_cast<int>(Status::out_of_memory));
static_assert(VORB_ERR_READ == static_cast<int>(Status::read_failed));
static_assert(VORB_ERR_WRITE == static_cast<int>(Status::write_failed));
static_assert(VORB_ERR_SIGNATURE == static_cast<int>(Status::bad_signature));
static_assert(VORB_ERR_TRUNCATED == static_cast<int>(Status::truncated));
static_assert(VORB_ERR_BLOCK_SIZE == static_cast<int>(Status::bad_block_size));
static_assert(VORB_ERR_LENGTH_CODE == static_cast<int>(Status::bad_length_code));
static_assert(VORB_ERR_FREQUENCY == static_cast<int>(Status::bad_frequency));
static_assert(VORB_ERR_BLOCK_LENGTH == static_cast<int>(Status::bad_block_length));
static_assert(VORB_ERR_SYMBOL_SET == static_cast<int>(Status::bad_symbol_set));
static_assert(VORB_ERR_RUN == static_cast<int>(Status::bad_run));
static_assert(VORB_ERR_PRIMARY_INDEX == static_cast<int>(Status::bad_primary_index));
static_assert(VORB_ERR_TRANSFORM == static_cast<int>(Status::bad_transform));
static_assert(VORB_ERR_TRAILING == static_cast<int>(Status::trailing_bytes));
static_assert(VORB_ERR_NAME_TOO_LONG == static_cast<int>(Status::name_too_long));
static_assert(VORB_ERR_CHECKSUM == static_cast<int>(Status::checksum_mismatch));
static_assert(VORB_ERR_INDEX == static_cast<int>(Status::damaged_index));
static_assert(VORB_ERR_BLOCK_END == static_cast<int>(Status::bad_block_end));
static_assert(VORB_ERR_BLOCK_CHECKSUM == static_cast<int>(Status::block_checksum_mismatch));
static_assert(VORB_ERR_STREAM_END == static_cast<int>(Status::bad_stream_end));
static_assert(VORB_ERR_RECOVERY == static_cast<int>(Status::damaged_record));
static_assert(VORB_ERR_UNREPAIRABLE == static_cast<int>(Status::beyond_repair));
static_assert(VORB_ERR_NO_RECOVERY == static_cast<int>(Status::no_record));
static_assert(VORB_ERR_NO_RECOVERY + 1 == status_count);
static_assert(VORB_MAX_BLOCK_SIZE == max_block_size && VORB_DEFAULT_BLOCK_SIZE == default_block_size);

unsigned vorb_version_number(void) { return VORB_VERSION_NUMBER; }

const char* vorb_version_string(void) { return VORB_VERSION_STRING; }

const char* vorb_status_message(vorb_status status) {
    if (static_cast<int>(status) < 0 || static_cast<int>(status) >= status_count) return "unknown error";
    return status_message(static_cast<Status>(status));
}

uint64_t vorb_memory_usage(uint32_t block_size, int threads, int unpacking) {
    if (block_size == 0 || block_size > max_block_size || threads < 1 || threads > 256) return 0;
    return unpacking ? member_decoder_memory(block_size, threads) + unpack_chunk_bytes(threads)
                     : packer_memory(block_size, threads) + api_chunk_bytes;
}
