// Run-time defaults for the sanitizer build, linked into every executable of
// it. The sanitizer runtimes ask for these at start-up; settings given in the
// ASAN_OPTIONS, LSAN_OPTIONS and UBSAN_OPTIONS variables still override them.
//
// Each report ends the process with a failing status, so no finding can pass a
// test unnoticed. Leaks are checked at exit; the GL and X libraries' own ones
// are suppressed by the list in tools/lsan.supp.
//
// intercept_tls_get_addr=0: GCC 12's runtime takes a thread-local block that
// malloc happens to place 16 bytes past a page boundary for an old glibc
// header, and reads a bogus range from the words before it. The GL driver
// allocates such blocks, and the leak check's tracer then died on exit
// ("Tracer caught signal 11") in an otherwise clean run, now and then.

extern "C" const char* __asan_default_options() {
    return "detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1:"
           "strict_string_checks=1:check_initialization_order=1:intercept_tls_get_addr=0";
}

extern "C" const char* __lsan_default_options() {
    return "suppressions=" VOXSCOPE_LSAN_SUPPRESSIONS ":print_suppressions=0";
}

extern "C" const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1";
}

// GL drivers are loaded with dlopen and unloaded again when the last context
// goes; what they leaked then shows in the exit-time leak report as an
// "<unknown module>" that no suppression can name. Keeping every library
// mapped until exit lets the report, and tools/lsan.supp, name the driver.
// The executable exports this definition (see CMakeLists.txt), so the GL
// libraries' calls to dlclose reach it instead of the C library's.
extern "C" int dlclose(void*) {
    return 0;
}
