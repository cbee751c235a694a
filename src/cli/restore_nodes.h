// After the members: the folders and symbolic links an index records, made
// inside the unpack folder as "_" + their stored path. Links keep their text
// and are never followed, also when it leads out of the unpack folder; they
// are made after every member, so no member is written through one. Folders
// get their modes and times last, deepest first, so making what is inside a
// folder neither changes its time nor meets a mode that shuts it.
#pragma once

#include <vorb.h>

#include "console.h"
#include "selection.h"

// Restores the nodes of r that sel selects (marking the names they match)
// inside base_fd; returns how many could not be, each named on the console.
int restore_nodes(const vorb_reader* r, int base_fd, Selection& sel, const Console& con);
