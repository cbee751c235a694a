// Packing with -r: the recovery record is made from the archive just written
// to its temporary, read back, and appended to it before the rename.
#pragma once

#include <vorb.h>

#include "file_io.h"
#include "replace_file.h"

// VORB_OK, or VORB_ERR_READ / VORB_ERR_WRITE / VORB_ERR_MEMORY with the
// errno of a failed read or write in out.error.
vorb_status append_recovery_record(const Replacement& target, unsigned percent, FdOut& out);
