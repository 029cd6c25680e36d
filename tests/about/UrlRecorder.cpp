// Stands in for the web browser in tests: appends the address it was asked to
// open to a log file. Command line: url_recorder.exe LOGFILE ADDRESS
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    if (__argc < 2) return 1;
    std::FILE* f = std::fopen(__argv[1], "ab");
    if (!f) return 2;
    std::fprintf(f, "%s\n", __argc > 2 ? __argv[2] : "");
    std::fclose(f);
    return 0;
}
