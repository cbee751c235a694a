// What an archive's recovery record says after t, l or d read it: whether
// the damage they found (or the record's own) can be repaired with vorb r.
#pragma once

#include "console.h"
#include "run_result.h"
#include "unpack.h"

// res is the command's result; info the reader's after it finished. t
// (testing) checks a record whenever there is one; l and d only after
// damage. An archive read from standard input is not checked again.
RunResult recovery_note(const ReadOptions& opt, const vorb_archive_info& info, bool testing, RunResult res,
                        const Console& con);
