// Allocation stacks of two frames. Qt is built without frame pointers, so
// the fast unwinder walks into stray stack words past a Qt frame: every
// allocation then records a new stack, and the growing stack store makes
// each allocation slower and eats memory run after run. Detection is
// unchanged; a crash input replayed with ASAN_OPTIONS=malloc_context_size=30
// and fast_unwind_on_malloc=0 shows full stacks.
//
// A quarantine of 16 MB instead of 256 MB. Freed memory waits there before
// it is used again, so that a use after free is caught. One input frees far
// less than 16 MB, so every use after free within one input is still caught;
// a larger quarantine only cycles through fresh pages, and page faults took a
// third of each run.
//
// No fill of new memory with a marker byte: reading memory before writing it
// is not what this sanitizer finds, and the fill wrote 4 KB into every row.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=2:quarantine_size_mb=16:max_malloc_fill_size=0";
}
