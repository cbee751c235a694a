#include "repair.h"

#include <cstring>

#include "file_io.h"
#include "replace_file.h"

namespace {

const char* const salvage_hint = " (vorb --salvage d saves what is intact)";

std::string units(uint64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? " unit" : " units");
}

RunResult rebuild(InFile& arc, const vorb_source& src, const std::string& archive, const Console& con) {
    const std::string shown = printable_name(archive);
    Replacement target;
    if (!replacement_begin_path(target, archive, TargetUse::named))
        return run_failed("\nCan't write the repaired archive beside " + shown + ": " +
                          (target.refusal ? target.refusal : std::strerror(target.error)));
    FdOut out;
    out.fd = target.fd;
    vorb_recovery_report rep;
    const vorb_status st = vorb_recovery_repair(&src, fd_out_write, &out, &rep);
    if (st != VORB_OK) {
        replacement_discard(target);
        if (st == VORB_ERR_WRITE) return run_failed("\nWrite error beside " + shown + ": " + std::strerror(out.error));
        if (st == VORB_ERR_READ) return run_failed("\nRead error in " + shown + ": " + std::strerror(arc.error));
        if (st == VORB_ERR_MEMORY) return run_failed("\nNot enough memory to repair " + shown);
        return run_failed("\nDamaged archive: " + shown + ": the rebuilt bytes fail their checksums; the archive is "
                          "left as it was" + salvage_hint);
    }
    if (!replacement_commit(target))
        return run_failed("\nWrite error on " + shown + ": " + std::strerror(target.error));
    if (!con.quiet) std::fprintf(con.out, "\n%s: repaired (%s)", shown.c_str(), damage_text(rep).c_str());
    return {};
}

}  // namespace

std::string damage_text(const vorb_recovery_report& rep) {
    std::string s = units(rep.damaged_data_units, "damaged") + " in front of the record, " +
                    std::to_string(rep.damaged_record_units) + " in it";
    if (rep.unknown_units > 0) s += ", " + units(rep.unknown_units, "unchecked");
    return s;
}

std::string beyond_text(const vorb_recovery_report& rep) {
    return damage_text(rep) +
           (rep.stripes_beyond > 0 ? ", more in " + std::to_string(rep.stripes_beyond) + " of " +
                                         std::to_string(rep.layout.stripes) + " stripes than they have parity"
                                   : ", and damage no unit's checksum shows") +
           ": beyond what the recovery record can repair";
}

RunResult repair_archive(const std::string& archive, const Console& con) {
    if (archive == "-") return RunResult{status_usage, "\nvorb r needs an archive file, not standard input"};
    const std::string shown = printable_name(archive);
    InFile arc;
    if (!in_file_open(arc, archive)) return run_failed("\nCan't open input: " + shown + ": " + std::strerror(arc.error));
    const vorb_source src{in_file_read, in_file_read_at, &arc, in_file_size(arc)};
    RunResult res;
    vorb_recovery_report rep;
    const vorb_status st =
        src.size == UINT64_MAX ? VORB_ERR_PARAM : vorb_recovery_check(&src, &rep);
    if (st == VORB_ERR_PARAM)
        res = run_failed("\nvorb r needs an archive file: " + shown + " is not a regular file");
    else if (st == VORB_ERR_READ)
        res = run_failed("\nRead error in " + shown + ": " + std::strerror(arc.error));
    else if (st != VORB_OK)
        res = run_failed("\nNot enough memory to check " + shown);
    else if (rep.state == VORB_RECOVERY_NONE)
        res = run_failed("\n" + shown + ": no recovery record, nothing to repair it with" + salvage_hint);
    else if (rep.state == VORB_RECOVERY_BEYOND)
        res = run_failed("\nDamaged archive: " + shown + ": " + beyond_text(rep) + "; the archive is left as it was" +
                         salvage_hint);
    else if (rep.state == VORB_RECOVERY_INTACT && !con.quiet)
        std::fprintf(con.out, "\n%s: undamaged, recovery record of %u %% intact", shown.c_str(), rep.layout.percent);
    if (res.status == 0 && rep.state == VORB_RECOVERY_REPAIRABLE) res = rebuild(arc, src, archive, con);
    in_file_close(arc);
    return res;
}
