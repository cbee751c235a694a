// The r command: an archive checked against its recovery record and, when
// damaged, rebuilt under a temporary name and renamed over the original
// once every checksum matched. The original is never written in place.
#pragma once

#include <string>

#include "console.h"
#include "run_result.h"

RunResult repair_archive(const std::string& archive, const Console& con);

// A recovery record's counts of damage, for messages: "3 damaged units in
// front of the record, 1 in it".
std::string damage_text(const vorb_recovery_report& rep);
// The same for damage the record cannot repair, and why.
std::string beyond_text(const vorb_recovery_report& rep);
