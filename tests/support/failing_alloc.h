// The library's malloc, calloc, realloc and new, wrapped at link time in the
// test program, can be made to fail one call, as on a machine out of memory.
// The test's own allocations count too: its callbacks must not allocate
// while a failure is set (containers reserved beforehand).
#pragma once

// The call numbered count from now (0: the next) returns null; count < 0:
// none (the default). Returns the count left of the previous setting: >= 0
// when its call has not come.
long fail_allocation(long count);
