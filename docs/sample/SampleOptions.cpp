// The sample's options object: the page, a control that the program embeds
// in its wizard, asking for the file name and whether it may be replaced.
#include "SampleCom.h"

#include <cwctype>
#include <string>

namespace sample {

const wchar_t kPageClass[] = L"KestrixSamplePage";

enum { kLabelId = 1, kFileId, kReplaceId, kMessageId };

// ---- the options object: the page ------------------------------------------

class SampleOptions final : public Dual<IKestrixPluginOptions>,
                            public IOleObject,
                            public IOleInPlaceObject,
                            public IOleInPlaceActiveObject,
                            private Counted {
public:
    ~SampleOptions() override { DestroyPage(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        void* itf = DualInterface(iid);
        if (iid == IID_IOleObject)
            itf = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            itf = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IOleInPlaceActiveObject)
            itf = static_cast<IOleInPlaceActiveObject*>(this);
        return Hand(itf, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

    // IKestrixPluginOptions
    HRESULT STDMETHODCALLTYPE SetPlugin(IKestrixPlugin* Plugin) override {
        plugin_.copy(Plugin);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveSettings(HRESULT* Result) override {
        if (!Result) return E_POINTER;
        *Result = S_OK;
        return Guarded(IID_IKestrixPluginOptions, [&]() -> HRESULT {
            Ref<IKestrixPlugin> self;
            if (!plugin_ || FAILED(plugin_->QueryInterface(IID_SampleSelf, self.put_void())))
                return Fail(IID_IKestrixPluginOptions, E_UNEXPECTED,
                            L"The sample's page was not given the sample plug-in");
            const std::wstring file = ItemText(kFileId);
            // A choice to correct: a failing Result, and the reason on the page.
            if (file.size() < 3 || !(file[1] == L':' || (file[0] == L'\\' && file[1] == L'\\'))) {
                ::SetDlgItemTextW(page_, kMessageId,
                                  L"Enter the full path of a file, such as C:\\Pictures\\shot.bmp.");
                *Result = E_FAIL;
                return S_OK;
            }
            ::SetDlgItemTextW(page_, kMessageId, L"");
            const bool replace = ::IsDlgButtonChecked(page_, kReplaceId) == BST_CHECKED;
            SetPluginSettings(self.get(), file, replace);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE Notify(TNotifyMessages Msg) override {
        // Tabbed or clicked into: a control of the page already has the focus
        // then; otherwise the first one takes it.
        if (Msg != nmGetFocus || !page_) return S_OK;
        HWND focus = ::GetFocus();
        HWND first = ::GetNextDlgTabItem(page_, nullptr, FALSE);
        if (first && (!focus || !::IsChild(page_, focus))) ::SetFocus(first);
        return S_OK;
    }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        site_.copy(site);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = site_.get();
        if (*site) (*site)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override {
        InPlaceDeactivate();
        DestroyPage();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override {
        if (data) *data = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                     LPCRECT rect) override {
        switch (verb) {
            case OLEIVERB_PRIMARY:
            case OLEIVERB_SHOW:
            case OLEIVERB_INPLACEACTIVATE:
            case OLEIVERB_UIACTIVATE:
                if (site && !site_) site_.copy(site);
                return Guarded(IID_IOleObject, [&] { return Activate(parent, rect); });
            case OLEIVERB_HIDE:
                UIDeactivate();
                if (page_) ::ShowWindow(page_, SW_HIDE);
                return S_OK;
            default:
                return E_NOTIMPL;
        }
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override {
        if (verbs) *verbs = nullptr;
        return OLEOBJ_E_NOVERBS;
    }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = CLSID_SampleOptions;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* type) override {
        if (type) *type = nullptr;
        return OLE_S_USEREG;
    }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override {
        if (!size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        extent_ = *size;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override {
        if (!size) return E_POINTER;
        if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
        *size = extent_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD* connection) override {
        if (connection) *connection = 0;
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return OLE_E_NOCONNECTION; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override {
        if (advise) *advise = nullptr;
        return OLE_E_ADVISENOTSUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        // The program heeds the first: the site comes before InitNew.
        *status = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                  OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) override {
        if (!wnd) return E_POINTER;
        *wnd = page_;
        return page_ ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
        UIDeactivate();
        DestroyPage();
        if (Ref<IOleInPlaceSite> site = std::move(inPlaceSite_)) site->OnInPlaceDeactivate();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UIDeactivate() override {
        if (!uiActive_) return S_OK;
        uiActive_ = false;
        if (frame_) frame_->SetActiveObject(nullptr, nullptr);
        if (document_) document_->SetActiveObject(nullptr, nullptr);
        frame_.reset();
        document_.reset();
        if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT) override {
        if (!pos) return E_POINTER;
        if (page_)
            ::MoveWindow(page_, pos->left, pos->top, pos->right - pos->left,
                         pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }

    // IOleInPlaceActiveObject: the container offers each key to the page
    // first. S_OK means the page used it; S_FALSE hands it back.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override {
        if (!msg || !page_ || (msg->hwnd != page_ && !::IsChild(page_, msg->hwnd))) return S_FALSE;
        if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && ::GetKeyState(VK_CONTROL) >= 0)
            return Tab(::GetKeyState(VK_SHIFT) < 0);
        // Alt+letter: only a mnemonic of the page is the page's.
        if (msg->message == WM_SYSCHAR && HasMnemonic(static_cast<wchar_t>(msg->wParam)))
            return ::IsDialogMessageW(page_, msg) ? S_OK : S_FALSE;
        // Everything else (Enter, Esc, the container's own keys, typing)
        // goes on its usual way.
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

private:
    // Tab moves within the page; from its last control (Shift+Tab: its
    // first) the key goes back to the container, so the keyboard can leave.
    HRESULT Tab(bool backwards) {
        HWND first = ::GetNextDlgTabItem(page_, nullptr, FALSE);
        HWND last = first ? ::GetNextDlgTabItem(page_, first, TRUE) : nullptr;
        HWND focus = ::GetFocus();
        if (!first || focus == (backwards ? first : last)) return S_FALSE;
        HWND next = focus && ::IsChild(page_, focus) ? ::GetNextDlgTabItem(page_, focus, backwards)
                                                     : (backwards ? last : first);
        ::SetFocus(next);
        if (::SendMessageW(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
            ::SendMessageW(next, EM_SETSEL, 0, -1);
        return S_OK;
    }
    bool HasMnemonic(wchar_t key) const {
        for (int id : {kLabelId, kReplaceId}) {
            const std::wstring text = ItemText(id);
            const size_t amp = text.find(L'&');
            if (amp + 1 < text.size() && std::towupper(text[amp + 1]) == std::towupper(key))
                return true;
        }
        return false;
    }

    HRESULT Activate(HWND parentHint, LPCRECT rectHint) {
        if (page_) {
            ::ShowWindow(page_, SW_SHOW);
            return S_OK;
        }
        Ref<IOleInPlaceSite> site;
        if (site_) site_->QueryInterface(IID_IOleInPlaceSite, site.put_void());
        if (site && site->CanInPlaceActivate() == S_OK) {
            HRESULT hr = site->OnInPlaceActivate();
            if (FAILED(hr)) return hr;
            inPlaceSite_.copy(site.get());
            HWND parent = nullptr;
            RECT pos = {}, clip = {};
            OLEINPLACEFRAMEINFO info = {};
            info.cb = sizeof info;
            Ref<IOleInPlaceFrame> frame;
            Ref<IOleInPlaceUIWindow> document;
            hr = site->GetWindow(&parent);
            if (SUCCEEDED(hr))
                hr = site->GetWindowContext(frame.put(), document.put(), &pos, &clip, &info);
            // The page takes the whole rectangle the site gives.
            if (SUCCEEDED(hr)) hr = CreatePage(parent, pos);
            if (FAILED(hr)) {
                InPlaceDeactivate();
                return hr;
            }
            // UI active: the frame learns which object gets the keys.
            if (SUCCEEDED(site->OnUIActivate())) {
                uiActive_ = true;
                if (frame) frame->SetActiveObject(this, L"Sample");
                if (document) document->SetActiveObject(this, L"Sample");
                frame_ = std::move(frame);
                document_ = std::move(document);
            }
        } else if (parentHint && rectHint) {
            HRESULT hr = CreatePage(parentHint, *rectHint);
            if (FAILED(hr)) return hr;
        } else {
            return E_INVALIDARG;
        }
        ::ShowWindow(page_, SW_SHOW);
        if (site_) site_->ShowObject();
        return S_OK;
    }

    HRESULT CreatePage(HWND parent, const RECT& pos) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = module_;
        wc.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kPageClass;
        if (!::RegisterClassW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return HRESULT_FROM_WIN32(::GetLastError());
        // A control parent: Tab and Shift+Tab of the container walk into it.
        page_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                                  WS_CHILD | WS_CLIPCHILDREN, pos.left, pos.top,
                                  pos.right - pos.left, pos.bottom - pos.top, parent, nullptr,
                                  module_, nullptr);
        if (!page_) return HRESULT_FROM_WIN32(::GetLastError());
        NONCLIENTMETRICSW metrics = {};
        metrics.cbSize = sizeof metrics;
        if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
            font_.h = ::CreateFontIndirectW(&metrics.lfMessageFont);
        // Laid out at 96 DPI, shown at the system's.
        HDC screen = ::GetDC(nullptr);
        dpi_ = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen) ::ReleaseDC(nullptr, screen);
        wchar_t temp[MAX_PATH + 1] = {};
        std::wstring file = ::GetTempPathW(MAX_PATH + 1, temp) ? temp : L"C:\\";
        file += L"KestrixSample.bmp";
        Add(L"STATIC", L"&File to write the picture to:", 0, kLabelId, 16, 16, 400, 16);
        Add(L"EDIT", file.c_str(), WS_TABSTOP | ES_AUTOHSCROLL, kFileId, 16, 34, 500, 22,
            WS_EX_CLIENTEDGE);
        Add(L"BUTTON", L"&Replace a file of that name", WS_TABSTOP | BS_AUTOCHECKBOX, kReplaceId,
            16, 66, 300, 20);
        Add(L"STATIC", L"", 0, kMessageId, 16, 100, 500, 40);
        return S_OK;
    }
    void Add(const wchar_t* cls, const wchar_t* text, DWORD style, int id, int x, int y, int w,
             int h, DWORD exStyle = 0) {
        auto scale = [this](int v) { return ::MulDiv(v, dpi_, 96); };
        HWND wnd = ::CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, scale(x),
                                     scale(y), scale(w), scale(h), page_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), module_,
                                     nullptr);
        if (wnd && font_.h) ::SendMessageW(wnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.h), 0);
    }
    std::wstring ItemText(int id) const {
        HWND item = ::GetDlgItem(page_, id);
        std::wstring text(static_cast<size_t>(item ? ::GetWindowTextLengthW(item) : 0) + 1, L'\0');
        text.resize(item ? static_cast<size_t>(::GetWindowTextW(item, text.data(),
                                                                static_cast<int>(text.size())))
                         : 0);
        return text;
    }
    void DestroyPage() {
        if (page_) ::DestroyWindow(std::exchange(page_, nullptr));
        if (font_.h) ::DeleteObject(std::exchange(font_.h, nullptr));
    }

    Ref<IKestrixPlugin> plugin_;
    Ref<IOleClientSite> site_;
    Ref<IOleInPlaceSite> inPlaceSite_;
    Ref<IOleInPlaceFrame> frame_;
    Ref<IOleInPlaceUIWindow> document_;
    HWND page_ = nullptr;
    Font font_;
    int dpi_ = 96;
    bool uiActive_ = false;
    SIZEL extent_ = {14340, 7144};  // 542 x 270 pixels at 96 DPI, in HIMETRIC
};


IClassFactory& OptionsFactory() {
    static Factory<SampleOptions> factory;
    return factory;
}

}  // namespace sample
