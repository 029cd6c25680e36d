#include "addons/common/OptionsControl.h"

#include "ui/Dpi.h"

#include <commctrl.h>

using namespace ui;

namespace addons {

namespace {
const wchar_t kPageClass[] = L"KestrixAddonPage";
const COLORREF kWarningColor = RGB(0xC0, 0x00, 0x00);

void RegisterPageClass(WNDPROC proc) {
    WNDCLASSW wc = {};
    if (::GetClassInfoW(ModuleInstance, kPageClass, &wc)) return;
    wc.lpfnWndProc = proc;
    wc.hInstance = ModuleInstance;
    wc.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kPageClass;
    if (!::RegisterClassW(&wc)) RaiseLastOSError();
}
}  // namespace

void UnregisterPageClass() { ::UnregisterClassW(kPageClass, ModuleInstance); }

TOptionsControl::TOptionsControl(automation::TComObjectFactory& factory) : TAutoObject(factory) {
    WindowDc screen(nullptr);
    if (screen) dpi_ = ::GetDeviceCaps(screen.get(), LOGPIXELSX);
    if (dpi_ <= 0) dpi_ = 96;
    SIZE size = {542, 260};
    extent_ = {size.cx * 2540 / 96, size.cy * 2540 / 96};
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        font_.reset(::CreateFontIndirectW(&metrics.lfMessageFont));
}

TOptionsControl::~TOptionsControl() { DestroyPage(); }

void* TOptionsControl::GetInterface(REFIID iid) noexcept {
    if (iid == IID_IOleWindow) return static_cast<IOleInPlaceObject*>(this);
    if (iid == IID_IPersist) return static_cast<IPersistStorage*>(this);
    return TAutoObject::GetInterface(iid);
}

// ---- IKestrixPluginOptions ---------------------------------------------------

HRESULT TOptionsControl::SetPlugin(IKestrixPlugin* Plugin) noexcept {
    return SafeCall(IID_IKestrixPluginOptions, [&] {
        plugin_ = ComPtr<IKestrixPlugin>::Copy(Plugin);
        return S_OK;
    });
}

HRESULT TOptionsControl::SaveSettings(HRESULT* Result) noexcept {
    if (!Result) return E_POINTER;
    *Result = S_OK;
    return SafeCall(IID_IKestrixPluginOptions, [&] {
        if (!plugin_) throw Exception("The options page has no plug-in to hand its settings to");
        *Result = ApplySettings(plugin_.get()) ? S_OK : E_FAIL;
        return S_OK;
    });
}

HRESULT TOptionsControl::Notify(TNotifyMessages Msg) noexcept {
    if (Msg != nmGetFocus || !page_) return S_OK;
    // Tabbed into: the first control takes the focus. Clicked into: the
    // control the user clicked keeps it.
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(page_, focus)) return S_OK;
    if (HWND first = ::GetNextDlgTabItem(page_, nullptr, FALSE)) ::SetFocus(first);
    return S_OK;
}

// ---- IOleObject --------------------------------------------------------------

HRESULT TOptionsControl::SetClientSite(IOleClientSite* site) noexcept {
    site_ = ComPtr<IOleClientSite>::Copy(site);
    return S_OK;
}

HRESULT TOptionsControl::GetClientSite(IOleClientSite** site) noexcept {
    if (!site) return E_POINTER;
    *site = ComPtr<IOleClientSite>(site_).Detach();
    return S_OK;
}

HRESULT TOptionsControl::Close(DWORD) noexcept {
    InPlaceDeactivate();
    DestroyPage();
    return S_OK;
}

HRESULT TOptionsControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT TOptionsControl::GetClipboardData(DWORD, IDataObject** data) noexcept {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT TOptionsControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                LPCRECT rect) noexcept {
    if (site && !site_) site_ = ComPtr<IOleClientSite>::Copy(site);
    switch (verb) {
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (page_) ::ShowWindow(page_, SW_HIDE);
            return S_OK;
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_OPEN:
        case OLEIVERB_INPLACEACTIVATE:
        case OLEIVERB_UIACTIVATE:
            return SafeCall(IID_IOleObject, [&] {
                return Activate(verb != OLEIVERB_INPLACEACTIVATE, parent, rect);
            });
        default:
            return OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT TOptionsControl::EnumVerbs(IEnumOLEVERB** verbs) noexcept {
    if (verbs) *verbs = nullptr;
    return OLEOBJ_E_NOVERBS;
}

HRESULT TOptionsControl::GetUserClassID(CLSID* clsid) noexcept { return GetClassID(clsid); }

HRESULT TOptionsControl::GetUserType(DWORD, LPOLESTR* type) noexcept {
    if (type) *type = nullptr;
    return OLE_S_USEREG;
}

HRESULT TOptionsControl::SetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    extent_ = *size;
    return S_OK;
}

HRESULT TOptionsControl::GetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    *size = extent_;
    return S_OK;
}

HRESULT TOptionsControl::Advise(IAdviseSink* sink, DWORD* connection) noexcept {
    if (!adviseHolder_ && FAILED(::CreateOleAdviseHolder(adviseHolder_.put())))
        return E_OUTOFMEMORY;
    return adviseHolder_->Advise(sink, connection);
}

HRESULT TOptionsControl::Unadvise(DWORD connection) noexcept {
    return adviseHolder_ ? adviseHolder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

HRESULT TOptionsControl::EnumAdvise(IEnumSTATDATA** advise) noexcept {
    if (!advise) return E_POINTER;
    *advise = nullptr;
    return adviseHolder_ ? adviseHolder_->EnumAdvise(advise) : S_OK;
}

HRESULT TOptionsControl::GetMiscStatus(DWORD, DWORD* status) noexcept {
    if (!status) return E_POINTER;
    *status = kControlMiscStatus;
    return S_OK;
}

// ---- in place ----------------------------------------------------------------

HRESULT TOptionsControl::GetWindow(HWND* wnd) noexcept {
    if (!wnd) return E_POINTER;
    *wnd = page_;
    return page_ ? S_OK : E_FAIL;
}

HRESULT TOptionsControl::InPlaceDeactivate() noexcept {
    if (!inPlaceSite_) return S_OK;
    UIDeactivate();
    DestroyPage();
    ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
    site->OnInPlaceDeactivate();
    return S_OK;
}

HRESULT TOptionsControl::UIDeactivate() noexcept {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    frame_.reset();
    uiWindow_.reset();
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT TOptionsControl::SetObjectRects(LPCRECT pos, LPCRECT) noexcept {
    if (!pos) return E_POINTER;
    if (page_)
        ::MoveWindow(page_, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top,
                     TRUE);
    return S_OK;
}

HRESULT TOptionsControl::TranslateAccelerator(LPMSG msg) noexcept {
    if (!msg || !page_ || (msg->hwnd != page_ && !::IsChild(page_, msg->hwnd))) return S_FALSE;
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return S_FALSE;
    if (msg->message == WM_KEYDOWN) {
        const UINT code = static_cast<UINT>(::SendMessageW(
            msg->hwnd, WM_GETDLGCODE, msg->wParam, reinterpret_cast<LPARAM>(msg)));
        // A control that wants the key (a dropped-down list's Enter, a
        // multi-line field) keeps it.
        if (!(code & (DLGC_WANTMESSAGE | DLGC_WANTALLKEYS))) {
            switch (msg->wParam) {
                case VK_TAB:
                    if (code & DLGC_WANTTAB) break;
                    // At the page's last (Shift: first) control the key goes
                    // back to the container, which moves on to its own. The
                    // last is the one after which the search wraps round.
                    if (HWND first = ::GetNextDlgTabItem(page_, nullptr, FALSE)) {
                        HWND item = TabItem(msg->hwnd);
                        if (::GetKeyState(VK_SHIFT) < 0 ? item == first
                                                        : ::GetNextDlgTabItem(page_, item, FALSE) == first)
                            return S_FALSE;
                    }
                    break;
                case VK_RETURN:
                    // A focused button of the page is pressed; elsewhere
                    // Enter is the container's default button.
                    if (code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) {
                        ::SendMessageW(msg->hwnd, BM_CLICK, 0, 0);
                        return S_OK;
                    }
                    return S_FALSE;
                case VK_ESCAPE:
                    return S_FALSE;
            }
        }
    }
    return ::IsDialogMessageW(page_, msg) ? S_OK : S_FALSE;
}

HWND TOptionsControl::TabItem(HWND wnd) const noexcept {
    while (wnd && ::GetParent(wnd) != page_) wnd = ::GetParent(wnd);
    return wnd;
}

HRESULT TOptionsControl::Activate(bool uiActivate, HWND parentHint, LPCRECT rectHint) {
    if (page_) {
        ::ShowWindow(page_, SW_SHOW);
        return S_OK;
    }
    ComPtr<IOleInPlaceSite> inPlace;
    if (site_ && SUCCEEDED(site_.As(inPlace)) && inPlace &&
        inPlace->CanInPlaceActivate() == S_OK) {
        inPlace->OnInPlaceActivate();
        inPlaceSite_ = inPlace;
        HWND parent = nullptr;
        inPlace->GetWindow(&parent);
        // Laid out at the DPI of the window it is shown in (its monitor's).
        dpi_ = WindowDpi(parent ? parent : parentHint);
        OLEINPLACEFRAMEINFO frameInfo = {};
        frameInfo.cb = sizeof frameInfo;
        RECT pos = {0, 0, Scale(542), Scale(260)}, clip = pos;
        ComPtr<IOleInPlaceFrame> frame;
        ComPtr<IOleInPlaceUIWindow> uiWindow;
        inPlace->GetWindowContext(frame.put(), uiWindow.put(), &pos, &clip, &frameInfo);
        CreatePage(parent ? parent : parentHint, pos);
        if (uiActivate) {
            uiActive_ = true;
            inPlace->OnUIActivate();
            if (frame) frame->SetActiveObject(this, L"Options");
            if (uiWindow) uiWindow->SetActiveObject(this, L"Options");
            frame_ = frame;
            uiWindow_ = uiWindow;
        }
    } else {
        if (!parentHint || !::IsWindow(parentHint))
            throw EOleSysError("The options page needs a window to be shown in", E_INVALIDARG);
        dpi_ = WindowDpi(parentHint);
        RECT pos = {0, 0, Scale(PreferredSize().cx), Scale(PreferredSize().cy)};
        if (rectHint) pos = *rectHint;
        CreatePage(parentHint, pos);
    }
    ::ShowWindow(page_, SW_SHOW);
    if (site_) site_->ShowObject();
    return S_OK;
}

void TOptionsControl::CreatePage(HWND parent, const RECT& pos) {
    RegisterPageClass(PageProc);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_STANDARD_CLASSES | ICC_UPDOWN_CLASS};
    ::InitCommonControlsEx(&controls);
    page_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                              WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, pos.left, pos.top,
                              pos.right - pos.left, pos.bottom - pos.top, parent, nullptr,
                              ModuleInstance, nullptr);
    if (!page_) RaiseLastOSError();
    ::SetWindowLongPtrW(page_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    try {
        CreateControls();
    } catch (...) {
        DestroyPage();
        throw;
    }
}

void TOptionsControl::DestroyPage() {
    if (!page_) return;
    ::SetWindowLongPtrW(page_, GWLP_USERDATA, 0);
    ::DestroyWindow(std::exchange(page_, nullptr));
}

int TOptionsControl::Scale(int v) const { return ::MulDiv(v, dpi_, 96); }

HWND TOptionsControl::Add(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id,
                          int x, int y, int w, int h, DWORD exStyle) {
    HWND wnd = ::CreateWindowExW(exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style,
                                 Scale(x), Scale(y), Scale(w), Scale(h), page_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 ModuleInstance, nullptr);
    if (!wnd) RaiseLastOSError();
    if (font_) ::SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    return wnd;
}

std::wstring TOptionsControl::ItemText(int id) const {
    HWND item = Item(id);
    if (!item) return {};
    std::wstring text(static_cast<size_t>(::GetWindowTextLengthW(item)) + 1, L'\0');
    text.resize(static_cast<size_t>(::GetWindowTextW(item, text.data(), static_cast<int>(text.size()))));
    return text;
}

void TOptionsControl::SetItemText(int id, const std::wstring& text) {
    if (HWND item = Item(id)) ::SetWindowTextW(item, text.c_str());
}

void TOptionsControl::SetMessage(const std::wstring& text) { SetItemText(kMessageId, text); }

std::wstring TOptionsControl::MessageText() const { return ItemText(kMessageId); }

LRESULT CALLBACK TOptionsControl::PageProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
    auto* self = reinterpret_cast<TOptionsControl*>(::GetWindowLongPtrW(wnd, GWLP_USERDATA));
    if (self) {
        try {
            LRESULT result = 0;
            if (self->PageMessage(msg, wp, lp, result)) return result;
        } catch (const std::exception& e) {
            self->SetMessage(ui::WideFromUtf8(e.what()));
        } catch (...) {
            self->SetMessage(L"Unknown error");
        }
        switch (msg) {
            case WM_COMMAND:
                try {
                    self->Command(LOWORD(wp), HIWORD(wp));
                } catch (const std::exception& e) {
                    self->SetMessage(ui::WideFromUtf8(e.what()));
                } catch (...) {
                    self->SetMessage(L"Unknown error");
                }
                return 0;
            case WM_NEXTDLGCTL: {
                // The dialog manager moves a label's mnemonic on with this;
                // the page is no dialog box, so it does what one would.
                HWND next = LOWORD(lp) ? reinterpret_cast<HWND>(wp)
                                       : ::GetNextDlgTabItem(wnd, ::GetFocus(), wp != 0);
                if (next && ::IsChild(wnd, next)) {
                    ::SetFocus(next);
                    if (::SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
                        ::SendMessageW(next, EM_SETSEL, 0, -1);
                }
                return 0;
            }
            case WM_CTLCOLORSTATIC:
                if (reinterpret_cast<HWND>(lp) == ::GetDlgItem(wnd, kMessageId)) {
                    HDC dc = reinterpret_cast<HDC>(wp);
                    ::SetTextColor(dc, kWarningColor);
                    ::SetBkColor(dc, ::GetSysColor(COLOR_BTNFACE));
                    return reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE));
                }
                break;
        }
    }
    return ::DefWindowProcW(wnd, msg, wp, lp);
}

// ---- IPersistStorage ---------------------------------------------------------

HRESULT TOptionsControl::GetClassID(CLSID* clsid) noexcept {
    if (!clsid) return E_POINTER;
    *clsid = Factory().ClassID();
    return S_OK;
}

HRESULT TOptionsControl::Save(IStorage* storage, BOOL) noexcept {
    return storage ? ::WriteClassStg(storage, Factory().ClassID()) : E_POINTER;
}

}  // namespace addons
