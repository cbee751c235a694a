// The ways decode_member and decode_member_indexed go about a member, one
// file each: on one thread, threaded with the numbers decoded in order, and
// an indexed member's blocks decoded at once.
#pragma once

#include "archive/member_decode.h"
#include "archive/work_sets.h"

// A block's status once the archive's own state is weighed: garbage read
// past the end usually trips a check, but the cause is the cut, and an
// intact stream never needs a byte past the end of the archive.
Status blame_the_stream(const ByteIn& in, Status st);

// One thread: each block's numbers are decoded while the block before it is
// inverted beside them.
[[nodiscard]] Status decode_member_serial(MemberDecoder& d, ByteOut& out, ProgressSink progress, MemberStats& stats);

// Worker threads: one decodes the numbers, the others invert, and the
// caller's thread reads the archive for the decoder and writes the blocks.
[[nodiscard]] Status decode_member_threaded(MemberDecoder& d, ByteOut& out, ProgressSink progress,
                                            MemberStats& stats);
