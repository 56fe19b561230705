// fontconfig and D-Bus (which SDL starts) keep process-wide caches until the
// process ends; LeakSanitizer is told to ignore them.
//
// SDL loads the X11 and OpenGL libraries itself and unloads them when its
// video ends, which would leave anything they still hold without a library
// name in LeakSanitizer's report: in this test program, libraries stay
// loaded, so every report names where its memory came from.
extern "C" int dlclose(void*) { return 0; }

extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n";
}
