// The window tests run SDL over X11 with Mesa and fontconfig, whose
// process-wide caches live until the process ends; LeakSanitizer is told to
// ignore them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libX11.so\n"
         "leak:libGLX_mesa.so\n"
         "leak:libGLX.so\n"
         "leak:libgallium\n"
         "leak:swrast_dri.so\n"
         "leak:libLLVM\n"
         "leak:libfontconfig.so\n"
         "leak:libdbus-1.so\n"
         "leak:libSDL2-2.0.so\n";
}
