// ThreadSanitizer sees only the instrumented code: Qt's own threads (its thread pool, which
// a modal dialog's loop may start) synchronise inside the uninstrumented Qt libraries, so
// their accesses look like races. Those reports are left out for the programs that link
// this file; races in our code, also where Qt is on the other side, stay reported.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libQt6Core.so\n"
         "race:libQt6Gui.so\n"
         "race:libQt6Widgets.so\n";
}
