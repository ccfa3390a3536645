// Built into every program of a build with AddressSanitizer: the settings its programs start
// with; ASAN_OPTIONS from the environment applies on top of them. It holds even where no test
// preset sets the environment (gtest's test discovery while building, a program run by hand).
//
// The platform and simulator libraries are static libraries linked into several of the shared
// libraries and into the programs, and the programs export their symbols, so that every copy
// binds to one instance of each process-wide service (KestrelTargets.cmake). A global that such
// a copy defines (a class's type-info name) is then registered once per copy, at the one address
// it binds to; ASan's strict check (level 2) reports that as two definitions. Level 1 still
// reports two definitions of one name with different sizes, the violation that does harm.

extern "C" const char* __asan_default_options() {
    return "detect_odr_violation=1";
}
