#include "desktop/win32/Win32AccessibleNames.h"

#include <commctrl.h>

#include <atomic>
#include <new>

#include "desktop/win32/Win32Dialog.h"
#include "ui/AccessibleNames.h"

namespace vornic::ui::win32 {
namespace {

// The control's own accessible object with its name replaced: everything else (role, state,
// value, location, the list of a drop-down) is the system's.
class NamedAccessible final : public IAccessible {
  public:
    NamedAccessible(IAccessible* inner, std::wstring name)
        : inner_(inner), name_(std::move(name)) {}
    NamedAccessible(const NamedAccessible&) = delete;
    NamedAccessible& operator=(const NamedAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, __uuidof(IAccessible))) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        // IEnumVARIANT, IOleWindow and the like: the system object answers for itself.
        return inner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (name == nullptr) {
            return E_POINTER;
        }
        if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) {
            return inner_->get_accName(child, name);
        }
        *name = SysAllocStringLen(name_.data(), static_cast<UINT>(name_.size()));
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    // The rest is the system object's.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        return inner_->GetTypeInfoCount(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
        return inner_->GetTypeInfo(i, l, t);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l,
                                            DISPID* d) override {
        return inner_->GetIDsOfNames(r, n, c, l, d);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v,
                                     EXCEPINFO* e, UINT* a) override {
        return inner_->Invoke(d, r, l, f, p, v, e, a);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override {
        return inner_->get_accParent(p);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* n) override {
        return inner_->get_accChildCount(n);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT c, IDispatch** d) override {
        return inner_->get_accChild(c, d);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT c, BSTR* v) override {
        return inner_->get_accValue(c, v);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT c, BSTR* d) override {
        return inner_->get_accDescription(c, d);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT c, VARIANT* r) override {
        return inner_->get_accRole(c, r);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT c, VARIANT* s) override {
        return inner_->get_accState(c, s);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* h) override {
        return inner_->get_accHelp(c, h);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, LONG* t) override {
        return inner_->get_accHelpTopic(f, c, t);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT c, BSTR* k) override {
        return inner_->get_accKeyboardShortcut(c, k);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* c) override { return inner_->get_accFocus(c); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* c) override {
        return inner_->get_accSelection(c);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT c, BSTR* a) override {
        return inner_->get_accDefaultAction(c, a);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG f, VARIANT c) override {
        return inner_->accSelect(f, c);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* x, LONG* y, LONG* w, LONG* h, VARIANT c) override {
        return inner_->accLocation(x, y, w, h, c);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG d, VARIANT s, VARIANT* e) override {
        return inner_->accNavigate(d, s, e);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* c) override {
        return inner_->accHitTest(x, y, c);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT c) override {
        return inner_->accDoDefaultAction(c);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT c, BSTR n) override {
        return inner_->put_accName(c, n);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT c, BSTR v) override {
        return inner_->put_accValue(c, v);
    }

  private:
    ~NamedAccessible() { inner_->Release(); }

    IAccessible* inner_;
    std::wstring name_;
    std::atomic<ULONG> references_{1};
};

// A named control answers the accessibility request for its client area itself. `data` is the
// control's name, owned by ControlNames.
LRESULT CALLBACK namedControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
    if (message == WM_GETOBJECT && static_cast<LONG>(lParam) == OBJID_CLIENT) {
        // A control with an accessible object of its own (the link) keeps it: it knows its role
        // and its text is its name.
        if (const LRESULT own = DefSubclassProc(window, message, wParam, lParam); own != 0) {
            return own;
        }
        IAccessible* system = nullptr;
        if (SUCCEEDED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                                reinterpret_cast<void**>(&system)))) {
            NamedAccessible* named = nullptr;
            try {
                named = new NamedAccessible(system, *reinterpret_cast<std::wstring*>(data));
            } catch (const std::bad_alloc&) {
                // No exception may leave a window procedure: the system's object answers.
                system->Release();
                return DefSubclassProc(window, message, wParam, lParam);
            }
            const LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, named);
            named->Release();
            return result;
        }
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

constexpr UINT_PTR kNamedSubclass = 2;

// UI Automation's LiveSetting property, and its "polite" value: a screen reader reads the
// control's new text out when it is told of a change, without interrupting what it is saying.
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kLivePolite = 1;

}  // namespace

ComApartment::ComApartment() {
    // S_FALSE (already initialised) also needs its CoUninitialize; RPC_E_CHANGED_MODE does not.
    entered_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

ComApartment::~ComApartment() {
    if (entered_) {
        CoUninitialize();
    }
}

ControlNames::~ControlNames() {
    clear();
    if (services_ != nullptr) {
        services_->Release();
    }
}

int ControlNames::apply(HWND dialog, const DialogLayout& layout) {
    if (services_ == nullptr &&
        FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&services_)))) {
        services_ = nullptr;
    }
    for (const ControlLayout& c : layout.controls) {
        const std::string name = accessibleName(layout, c);
        HWND control = GetDlgItem(dialog, c.id);
        if (name.empty() || control == nullptr) {
            continue;
        }
        Named named{control, std::make_unique<std::wstring>(widen(name)), false, false};
        if (!SetWindowSubclass(control, &namedControlProc, kNamedSubclass,
                               reinterpret_cast<DWORD_PTR>(named.name.get()))) {
            continue;
        }
        named.annotated =
            services_ != nullptr && SUCCEEDED(services_->SetHwndPropStr(
                                        control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                        PROPID_ACC_NAME, named.name->c_str()));
        if (named.annotated && (c.style & style::kLive) != 0) {
            VARIANT live;
            VariantInit(&live);
            live.vt = VT_I4;
            live.lVal = kLivePolite;
            named.live =
                SUCCEEDED(services_->SetHwndProp(control, static_cast<DWORD>(OBJID_CLIENT),
                                                 CHILDID_SELF, kLiveSettingProperty, live));
        }
        named_.push_back(std::move(named));
    }
    return static_cast<int>(named_.size());
}

void ControlNames::applyOnceShown(HWND dialog, const DialogLayout& layout) {
    // A timer's message comes only when no other message, paint included, is waiting: after the
    // dialog's first paint. Its id is this object, which clear() stops it for.
    pendingDialog_ = dialog;
    pendingLayout_ = &layout;
    if (SetTimer(dialog, reinterpret_cast<UINT_PTR>(this), USER_TIMER_MINIMUM, &whenShown) == 0) {
        pendingDialog_ = nullptr;
        apply(dialog, layout);
    }
}

void CALLBACK ControlNames::whenShown(HWND dialog, UINT, UINT_PTR timer, DWORD) {
    KillTimer(dialog, timer);
    auto* self = reinterpret_cast<ControlNames*>(timer);
    if (self->pendingDialog_ == dialog && self->pendingLayout_ != nullptr) {
        self->pendingDialog_ = nullptr;
        self->apply(dialog, *self->pendingLayout_);
    }
}

void ControlNames::clear() {
    if (pendingDialog_ != nullptr) {
        KillTimer(pendingDialog_, reinterpret_cast<UINT_PTR>(this));
        pendingDialog_ = nullptr;
    }
    MSAAPROPID props[] = {PROPID_ACC_NAME, kLiveSettingProperty};
    for (const Named& n : named_) {
        RemoveWindowSubclass(n.window, &namedControlProc, kNamedSubclass);
        if (n.annotated) {
            services_->ClearHwndProps(n.window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                      props, n.live ? 2 : 1);
        }
    }
    named_.clear();
}

}  // namespace vornic::ui::win32
