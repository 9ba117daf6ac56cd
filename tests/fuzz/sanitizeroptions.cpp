// Allocation stacks of two frames. Qt is built without frame pointers, so
// the fast unwinder walks into stray stack words past a Qt frame: every
// allocation then records a new stack, and the growing stack store makes
// each allocation slower and eats memory run after run. Detection is
// unchanged; a crash input replayed with ASAN_OPTIONS=malloc_context_size=30
// and fast_unwind_on_malloc=0 shows full stacks.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=2";
}
