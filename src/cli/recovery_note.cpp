#include "recovery_note.h"

#include "repair.h"

RunResult recovery_note(const ReadOptions& opt, const vorb_archive_info& info, bool testing, RunResult res,
                        const Console& con) {
    const bool recorded = info.flags & (VORB_INFO_HAS_RECOVERY | VORB_INFO_RECOVERY_DAMAGED);
    if (opt.archive == "-" || !(res.status != 0 || (testing && recorded))) return res;
    InFile arc;
    if (!in_file_open(arc, opt.archive)) return res;
    const vorb_source src{in_file_read, in_file_read_at, &arc, in_file_size(arc)};
    vorb_recovery_report rep;
    const vorb_status st = src.size == UINT64_MAX ? VORB_ERR_PARAM : vorb_recovery_check(&src, &rep);
    in_file_close(arc);
    if (st != VORB_OK || rep.state == VORB_RECOVERY_NONE) return res;
    switch (rep.state) {
    case VORB_RECOVERY_INTACT:
        if (res.status != 0) return run_failed(res.message + "\nIts recovery record matches it as it is: nothing to repair");
        if (!con.quiet) std::fprintf(con.out, "\nRecovery record (%u %%): intact", rep.layout.percent);
        return res;
    case VORB_RECOVERY_REPAIRABLE:
        if (res.status == 0) return run_failed("\nDamaged recovery record: " + damage_text(rep) + "; repairable with vorb r");
        return run_failed(res.message + "\nThe damage is repairable with vorb r (" + damage_text(rep) + ")");
    default: {
        const std::string why = beyond_text(rep) + " (vorb --salvage d saves what is intact)";
        return run_failed(res.status != 0 ? res.message + "\nThe damage is " + why : "\nDamaged archive: " + why);
    }
    }
}
