#pragma once
// Accessible names for the Win32 dialogs.
//
// Windows' accessibility names a control after its own text or, for a field, slider, list or
// picture button, after the label right before it; a control without such a label (the arrow
// buttons, the sliders beside a unit label, a value field whose label names its slider) would go
// unnamed, and a named one could still differ from what the Linux program says. So every control
// a user can act on is given its name from ui/AccessibleNames explicitly, in two ways:
// - the system's annotation service (IAccPropServices::SetHwndPropStr), which the system's own
//   accessible objects and UI Automation's proxies for the standard controls read;
// - the control answers WM_GETOBJECT for its client area itself, with the system's object under
//   a different name, for systems without a working annotation service (Wine's answers
//   E_NOTIMPL).
//
// A control whose text is announced as it changes (style::kLive) is also marked a live region.
//
// The service is a COM object: the UI thread must be in a COM apartment (ComApartment) while a
// dialog is open.

#include <windows.h>

#include <oleacc.h>

#include <memory>
#include <string>
#include <vector>

#include "ui/Layout.h"

namespace vornic::ui::win32 {

// COM for the calling thread (single-threaded apartment, as a thread with windows needs) for the
// scope's life. Harmless when the thread is already in one.
class ComApartment {
  public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    bool entered_ = false;
};

class ControlNames {
  public:
    ControlNames() = default;
    ~ControlNames();
    ControlNames(const ControlNames&) = delete;
    ControlNames& operator=(const ControlNames&) = delete;

    // Names every interactive control of `layout` in `dialog`. Returns how many were named.
    int apply(HWND dialog, const DialogLayout& layout);
    // The same once the dialog has been shown and painted, so that the window appears without
    // waiting for the naming calls (slow under Wine). `layout` must outlive the dialog.
    void applyOnceShown(HWND dialog, const DialogLayout& layout);
    // Takes the names back, or the pending naming; called while the controls still exist
    // (WM_DESTROY).
    void clear();

  private:
    struct Named {
        HWND window;
        std::unique_ptr<std::wstring> name;  // the window's subclass data points to it
        bool annotated;
        bool live = false;  // announced as a live region (the status line)
    };
    static void CALLBACK whenShown(HWND dialog, UINT, UINT_PTR timer, DWORD);

    IAccPropServices* services_ = nullptr;
    std::vector<Named> named_;
    HWND pendingDialog_ = nullptr;  // waiting for applyOnceShown's timer
    const DialogLayout* pendingLayout_ = nullptr;
};

}  // namespace vornic::ui::win32
