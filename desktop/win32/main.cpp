// vornic.exe: the desktop program on Windows. No command line and nothing persisted: the port
// list offers the COM ports present, by the names Windows gives them.

#include <windows.h>

#include "app/Application.h"
#include "app/PortList.h"
#include "desktop/win32/Win32FrontEnd.h"
#include "platform/PortTable.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    vornic::platform::PortTable ports;
    vornic::PortList portList(vornic::platform::listSerialPorts, ports, "", "", false);
    vornic::ui::win32::Win32FrontEnd frontEnd;
    frontEnd.setPortList(portList);
    vornic::Application application(frontEnd, nullptr, ports);
    return application.run();
}
