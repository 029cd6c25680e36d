// Does nothing until it is ended: while it runs, Wine keeps its desktop
// process, so each test does not pay for starting it again.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) ::DispatchMessageA(&msg);
    return 0;
}
