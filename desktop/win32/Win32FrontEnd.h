#pragma once
// Win32FrontEnd: the FrontEnd of vornic.exe on the Win32 dialog manager.
//
// The thread that calls Application::run() is the UI thread: it registers the common controls
// and runs the main dialog with DialogBoxIndirectParamW. The wake-up post is PostMessageW(WM_USER)
// to the main dialog's window, safe from any thread and never waiting for the UI thread; the
// dialog procedure hands it to DlgConfig::onUserMessage, which lets AppModel deliver whatever its
// single mailbox holds then. The window handle is read and cleared under one lock, so a post that
// races with the window going away never reaches a destroyed dialog; messages still queued for the
// window when it is destroyed are discarded by the system.

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "app/Application.h"
#include "app/PortList.h"
#include "desktop/win32/Win32Dialog.h"
#include "platform/Threads.h"

namespace vornic::ui::win32 {

class Win32FrontEnd final : public FrontEnd, public UiPoster {
  public:
    Win32FrontEnd() = default;

    // Replaces ShellExecuteW for the About box's link (the self-test opens no browser).
    void setUrlOpener(std::function<void(const std::string&)> opener) {
        urlOpener_ = std::move(opener);
    }

    // The port list shows the ports present in `ports`, rescanned when a device arrives or
    // leaves; without it the list offers COM1 to COM256. Before runMainDialog.
    void setPortList(PortList& ports) { ports_ = &ports; }
    // Answers the file dialogs instead of the system's (the self-test); see
    // Win32Dialog::setFileChooser.
    void setFileChooser(Win32Dialog::FileChooser chooser) { fileChooser_ = std::move(chooser); }

    // FrontEnd
    [[nodiscard]] bool initCommonControls() override;
    void showMessageBox(const char* text, const char* caption) override;
    UiPoster& poster() override { return *this; }
    int runMainDialog(DlgConfig& dialog) override;
    void setSessionEndHandler(std::function<void()> handler) override {
        sessionEnd_ = std::move(handler);
    }

    // UiPoster (any thread)
    void post(uint32_t wParam, uint32_t lParam) override;

    // The main dialog's window while it runs, else null (any thread).
    [[nodiscard]] HWND mainWindow() const { return mainWindow_.load(); }

  private:
    std::function<void(const std::string&)> urlOpener_;
    std::function<void()> sessionEnd_;
    PortList* ports_ = nullptr;
    Win32Dialog::FileChooser fileChooser_;
    platform::Lock lock_;
    HWND postTarget_ = nullptr;  // under lock_
    std::atomic<HWND> mainWindow_{nullptr};
};

}  // namespace vornic::ui::win32
