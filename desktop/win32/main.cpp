// vornic.exe: the desktop program on Windows. No command line and nothing persisted: the port
// list offers COM1 to COM256 and every port number opens \\.\COMn.

#include <windows.h>

#include "app/Application.h"
#include "desktop/win32/Win32FrontEnd.h"
#include "platform/PortTable.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    vornic::platform::PortTable ports;
    vornic::ui::win32::Win32FrontEnd frontEnd;
    vornic::Application application(frontEnd, nullptr, ports);
    return application.run();
}
