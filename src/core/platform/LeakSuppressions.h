#pragma once
// Under LeakSanitizer: caches that system libraries keep until exit are not our leaks.
// Include in exactly one file of each program.

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libsecret-1.so\n"
           "leak:libgio-2.0.so\n";
}
#endif
