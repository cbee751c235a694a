#include <new>

#include "sort/forward.h"
#include "sort/repetition.h"
#include "sort/sort_tasks.h"
#include "sort/sorter.h"

Sorter* sorter_create() { return new (std::nothrow) Sorter{}; }

void sorter_destroy(Sorter* s) {
    if (!s) return;
    repeat_state_release(*s);
    release_sort_tasks(*s);
    delete s;
}
