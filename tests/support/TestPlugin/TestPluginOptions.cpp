// The options object: an embeddable control with a small window of its own
// and the automation side IKestrixPluginOptions.
#include "tests/support/TestPlugin/PluginModule.h"

using ui::ComPtr;

namespace test_plugin {

namespace {

volatile LONG OptionsCount = 0;

const DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                          OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                          OLEMISC_SETCLIENTSITEFIRST;
const int kWidth = 240, kHeight = 120;
const int kEditId = 100;

LRESULT CALLBACK OptionsWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ERASEBKGND: {
            RECT rc;
            ::GetClientRect(wnd, &rc);
            char letter = static_cast<char>(::GetWindowLongPtrA(wnd, GWLP_USERDATA));
            ui::GdiObject brush(::CreateSolidBrush(OptionsColor(letter)));
            ::FillRect(reinterpret_cast<HDC>(wp), &rc, static_cast<HBRUSH>(brush.get()));
            return 1;
        }
        case WM_SIZE:
            if (HWND edit = ::GetDlgItem(wnd, kEditId))
                ::MoveWindow(edit, 8, 36, LOWORD(lp) > 16 ? LOWORD(lp) - 16 : 0, 22, TRUE);
            return 0;
    }
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

void RegisterWindowClass() {
    WNDCLASSA wc = {};
    if (::GetClassInfoA(ModuleInstance, kOptionsWindowClass, &wc)) return;
    wc.lpfnWndProc = OptionsWndProc;
    wc.hInstance = ModuleInstance;
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.lpszClassName = kOptionsWindowClass;
    ::RegisterClassA(&wc);
}

class Options : public IOleObject,
                public IOleInPlaceObject,
                public IOleInPlaceActiveObject,
                public IPersistStorage,
                public DualDispatch<IKestrixPluginOptions>,
                public ISupportErrorInfo,
                public RefCounted<Options> {
public:
    Options(char letter)
        : DualDispatch(IID_IKestrixPluginOptions),
          letter_(letter),
          number_(::InterlockedIncrement(&OptionsCount)) {
        Log(Prefix() + "created");
    }
    ~Options() override {
        DestroyOwnWindow();
        Log(Prefix() + "destroyed");
    }

    // IUnknown ------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IOleInPlaceActiveObject)
            *out = static_cast<IOleInPlaceActiveObject*>(this);
        else if (iid == IID_IPersist || iid == IID_IPersistStorage)
            *out = static_cast<IPersistStorage*>(this);
        else if (iid == IID_IKestrixPluginOptions &&
                 FAILED(Switches(letter_).Status("QueryInterface")))
            return Switches(letter_).Status("QueryInterface");
        else if (iid == IID_IDispatch || iid == IID_IKestrixPluginOptions)
            *out = static_cast<IKestrixPluginOptions*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        Add();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Add(); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(); }

    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IID_IKestrixPluginOptions ? S_OK : S_FALSE;
    }

    // IKestrixPluginOptions -------------------------------------------------
    HRESULT STDMETHODCALLTYPE SetPlugin(IKestrixPlugin* Plugin) override {
        Log(Prefix() + "SetPlugin plugin=" + std::to_string(PluginInstanceNumber(Plugin)));
        Switches(letter_).Crash("SetPlugin");
        if (HRESULT status = Switches(letter_).Status("SetPlugin"); FAILED(status))
            return Fail(letter_, "SetPlugin", status);
        plugin_ = ComPtr<IKestrixPlugin>::Copy(Plugin);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SaveSettings(HRESULT* Result) override {
        Log(Prefix() + "SaveSettings");
        Switches(letter_).Crash("SaveSettings");
        if (!Result) return E_POINTER;
        *Result = S_OK;
        Switches switches(letter_);
        if (HRESULT status = switches.Status("SaveSettings"); FAILED(status))
            return Fail(letter_, "SaveSettings", status);
        *Result = switches.Result("SaveSettings");
        if (SUCCEEDED(*Result)) SetPluginOptionsText(plugin_.get(), EditText());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Notify(TNotifyMessages Msg) override {
        Log(Prefix() + "Notify " + std::to_string(static_cast<int>(Msg)));
        Switches(letter_).Crash("Notify");
        if (HRESULT status = Switches(letter_).Status("Notify"); FAILED(status))
            return Fail(letter_, "Notify", status);
        return S_OK;
    }

    // IDispatch -------------------------------------------------------------

    // IOleObject ------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override {
        Log(Prefix() + "SetClientSite " + (site ? "site" : "none"));
        site_ = ComPtr<IOleClientSite>::Copy(site);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override {
        if (!site) return E_POINTER;
        *site = ComPtr<IOleClientSite>(site_).Detach();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) override {
        Log(Prefix() + "Close");
        InPlaceDeactivate();
        DestroyOwnWindow();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override {
        if (data) *data = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                     LPCRECT rect) override {
        Log(Prefix() + "DoVerb " + std::to_string(verb));
        Switches(letter_).Crash("DoVerb");
        if (site && !site_) site_ = ComPtr<IOleClientSite>::Copy(site);
        switch (verb) {
            case OLEIVERB_HIDE:
                UIDeactivate();
                if (window_) ::ShowWindow(window_, SW_HIDE);
                return S_OK;
            case OLEIVERB_PRIMARY:
            case OLEIVERB_SHOW:
            case OLEIVERB_OPEN:
            case OLEIVERB_INPLACEACTIVATE:
            case OLEIVERB_UIACTIVATE:
                return Activate(verb != OLEIVERB_INPLACEACTIVATE, parent, rect);
            default:
                return OLEOBJ_S_INVALIDVERB;
        }
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override {
        if (verbs) *verbs = nullptr;
        return OLEOBJ_E_NOVERBS;
    }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override { return GetClassID(clsid); }
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
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override {
        if (!adviseHolder_ && FAILED(::CreateOleAdviseHolder(adviseHolder_.put())))
            return E_OUTOFMEMORY;
        return adviseHolder_->Advise(sink, connection);
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override {
        return adviseHolder_ ? adviseHolder_->Unadvise(connection) : OLE_E_NOCONNECTION;
    }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override {
        if (!advise) return E_POINTER;
        *advise = nullptr;
        return adviseHolder_ ? adviseHolder_->EnumAdvise(advise) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) override {
        if (!status) return E_POINTER;
        *status = kMiscStatus;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject ------------------
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) override {
        if (!wnd) return E_POINTER;
        *wnd = window_;
        return window_ ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override {
        if (!inPlaceSite_) return S_OK;
        Log(Prefix() + "InPlaceDeactivate");
        UIDeactivate();
        DestroyOwnWindow();
        ComPtr<IOleInPlaceSite> site = std::move(inPlaceSite_);
        site->OnInPlaceDeactivate();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UIDeactivate() override {
        if (!uiActive_) return S_OK;
        uiActive_ = false;
        if (frame_) frame_->SetActiveObject(nullptr, nullptr);
        if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
        frame_.reset();
        uiWindow_.reset();
        if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT) override {
        if (!pos) return E_POINTER;
        if (window_)
            ::MoveWindow(window_, pos->left, pos->top, pos->right - pos->left,
                         pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return INPLACE_E_NOTUNDOABLE; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override {
        if (!msg || msg->message != WM_KEYDOWN) return S_FALSE;
        std::string keys = Switches(letter_).Text("AcceleratorKeys", "");
        if (keys.find(static_cast<char>(msg->wParam)) == std::string::npos) return S_FALSE;
        Log(Prefix() + "TranslateAccelerator " + std::to_string(msg->wParam));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }

    // IPersistStorage -----------------------------------------------------
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override {
        if (!clsid) return E_POINTER;
        *clsid = letter_ == 'A' ? CLSID_TestOptionsA
                 : letter_ == 'B' ? CLSID_TestOptionsB
                                  : CLSID_TestOptionsC;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE InitNew(IStorage*) override {
        Log(Prefix() + "InitNew");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Load(IStorage*) override {
        Log(Prefix() + "Load");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL) override {
        Log(Prefix() + "Save");
        CLSID clsid;
        GetClassID(&clsid);
        return storage ? ::WriteClassStg(storage, clsid) : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE HandsOffStorage() override { return S_OK; }

private:
    std::string Prefix() const {
        return std::string(1, letter_) + " options " + std::to_string(number_) + " ";
    }

    // Shows the window in place when the site allows it, else on its own.
    HRESULT Activate(bool uiActivate, HWND parentHint, LPCRECT rectHint) {
        if (window_) {
            ::ShowWindow(window_, SW_SHOW);
            return S_OK;
        }
        if (!site_) return E_UNEXPECTED;
        ComPtr<IOleInPlaceSite> inPlace;
        if (SUCCEEDED(site_.As(IID_IOleInPlaceSite, inPlace)) && inPlace &&
            inPlace->CanInPlaceActivate() == S_OK) {
            inPlace->OnInPlaceActivate();
            inPlaceSite_ = inPlace;
            HWND parent = nullptr;
            inPlace->GetWindow(&parent);
            OLEINPLACEFRAMEINFO frameInfo = {};
            frameInfo.cb = sizeof frameInfo;
            RECT pos = {0, 0, kWidth, kHeight}, clip = pos;
            ComPtr<IOleInPlaceFrame> frame;
            ComPtr<IOleInPlaceUIWindow> uiWindow;
            inPlace->GetWindowContext(frame.put(), uiWindow.put(), &pos, &clip, &frameInfo);
            CreateOwnWindow(WS_CHILD | WS_CLIPCHILDREN, parent ? parent : parentHint, pos);
            if (uiActivate) {
                uiActive_ = true;
                inPlace->OnUIActivate();
                std::wstring name = Wide(std::string("Test plug-in ") + letter_ + " options");
                if (frame) frame->SetActiveObject(this, name.c_str());
                if (uiWindow) uiWindow->SetActiveObject(this, name.c_str());
                frame_ = frame;
                uiWindow_ = uiWindow;
            }
            ::ShowWindow(window_, SW_SHOW);
        } else {
            RECT pos = {100, 100, 100 + kWidth, 100 + kHeight};
            if (rectHint) pos = *rectHint;
            CreateOwnWindow(WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN, nullptr, pos);
            ::ShowWindow(window_, SW_SHOW);
            site_->OnShowWindow(TRUE);
        }
        site_->ShowObject();
        return window_ ? S_OK : E_FAIL;
    }

    void CreateOwnWindow(DWORD style, HWND parent, const RECT& pos) {
        RegisterWindowClass();
        std::string caption = std::string("Test plug-in ") + letter_ + " options";
        window_ = ::CreateWindowExA(0, kOptionsWindowClass, caption.c_str(), style, pos.left,
                                    pos.top, pos.right - pos.left, pos.bottom - pos.top, parent,
                                    nullptr, ModuleInstance, nullptr);
        if (!window_) return;
        ::SetWindowLongPtrA(window_, GWLP_USERDATA, letter_);
        ::CreateWindowExA(0, "STATIC", caption.c_str(), WS_CHILD | WS_VISIBLE, 8, 8, 200, 20,
                          window_, nullptr, ModuleInstance, nullptr);
        ::CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", (std::string(1, letter_) + " options").c_str(),
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL, 8, 36,
                          pos.right - pos.left - 16, 22, window_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), ModuleInstance,
                          nullptr);
    }

    void DestroyOwnWindow() {
        if (!window_) return;
        bool ownWindow = !(::GetWindowLongA(window_, GWL_STYLE) & WS_CHILD);
        ::DestroyWindow(window_);
        window_ = nullptr;
        if (ownWindow && site_) site_->OnShowWindow(FALSE);
    }

    std::string EditText() const {
        char text[256] = {};
        if (window_) ::GetDlgItemTextA(window_, kEditId, text, sizeof text);
        return text;
    }

    char letter_;
    int number_;
    ComPtr<IKestrixPlugin> plugin_;
    ComPtr<IOleClientSite> site_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> uiWindow_;
    ComPtr<IOleAdviseHolder> adviseHolder_;
    HWND window_ = nullptr;
    bool uiActive_ = false;
    SIZEL extent_ = {kWidth * 2540 / 96, kHeight * 2540 / 96};
};

}  // namespace

HRESULT CreateOptions(char letter, REFIID iid, void** out) {
    ComPtr<IOleObject> options = ComPtr<IOleObject>::Copy(new Options(letter));
    return options->QueryInterface(iid, out);
}

}  // namespace test_plugin
