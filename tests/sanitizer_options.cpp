// The sanitizer build's test programs carry their options, so that ctest, its test discovery and
// a run by hand check alike. Leak detection stays on: the suite runs clean under it, Qt and the
// offscreen windows included, so a connection or page buffer that is never freed shows up.

extern "C" const char* __asan_default_options()
{
    return "detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:"
           "strict_init_order=1:strict_string_checks=1";
}

extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1";
}
