// Pango prepares fontconfig on a thread of its own and hands the result over through GLib's
// uninstrumented locks; the thread sanitizer cannot see that hand-over, so it is not ours to report.
extern "C" const char* __tsan_default_suppressions();
extern "C" const char* __tsan_default_suppressions() {
  return "race:libfontconfig.so\n"
         "race:libglib-2.0.so\n"
         "race:libpango-1.0.so\n"
         "race:libpangoft2-1.0.so\n";
}

// fontconfig keeps its configuration and caches until the process ends and never frees them.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
