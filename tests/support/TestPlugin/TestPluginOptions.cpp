// The options object: the add-ons' own page (addons/common), so that the
// program's keyboard and embedding tests run the code that ships, with the
// switches and the call log of TestPlugin.h around it.
#include "addons/common/OptionsControl.h"
#include "tests/support/TestPlugin/PluginModule.h"

using ui::ComPtr;

namespace test_plugin {

namespace {

volatile LONG OptionsCount = 0;

const int kWidth = 240, kHeight = 120;
const int kEditId = 100;

char LetterOf(const CLSID& clsid) {
    return clsid == CLSID_TestOptionsA ? 'A' : clsid == CLSID_TestOptionsB ? 'B' : 'C';
}

// The frame an object opens when its site cannot take it in place.
LRESULT CALLBACK OwnWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
    // Closed by its owner only: the page inside belongs to the object.
    if (msg == WM_CLOSE) return 0;
    return ::DefWindowProcA(wnd, msg, wp, lp);
}

void RegisterOwnWindowClass() {
    WNDCLASSA wc = {};
    if (::GetClassInfoA(addons::ModuleInstance, kOwnWindowClass, &wc)) return;
    wc.lpfnWndProc = OwnWindowProc;
    wc.hInstance = addons::ModuleInstance;
    wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kOwnWindowClass;
    ::RegisterClassA(&wc);
}

class Options : public addons::TOptionsControl {
public:
    explicit Options(automation::TComObjectFactory& factory)
        : TOptionsControl(factory),
          letter_(LetterOf(factory.ClassID())),
          number_(::InterlockedIncrement(&OptionsCount)) {
        Log(Prefix() + "created");
    }
    ~Options() override {
        DestroyOwnWindow();
        Log(Prefix() + "destroyed");
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (out && iid == IID_IKestrixPluginOptions) {
            if (HRESULT status = Switches(letter_).Status("QueryInterface"); FAILED(status)) {
                *out = nullptr;
                return status;
            }
        }
        return TOptionsControl::QueryInterface(iid, out);
    }

    // IKestrixPluginOptions -------------------------------------------------
    HRESULT STDMETHODCALLTYPE SetPlugin(IKestrixPlugin* Plugin) noexcept override {
        Log(Prefix() + "SetPlugin plugin=" + std::to_string(PluginInstanceNumber(Plugin)));
        Switches switches(letter_);
        switches.Crash("SetPlugin");
        if (HRESULT status = switches.Status("SetPlugin"); FAILED(status))
            return Fail(letter_, "SetPlugin", status);
        return TOptionsControl::SetPlugin(Plugin);
    }
    HRESULT STDMETHODCALLTYPE SaveSettings(HRESULT* Result) noexcept override {
        Log(Prefix() + "SaveSettings");
        Switches switches(letter_);
        switches.Crash("SaveSettings");
        if (!Result) return E_POINTER;
        *Result = S_OK;
        if (HRESULT status = switches.Status("SaveSettings"); FAILED(status))
            return Fail(letter_, "SaveSettings", status);
        if (HRESULT result = switches.Result("SaveSettings"); result != S_OK) {
            *Result = result;
            return S_OK;
        }
        return TOptionsControl::SaveSettings(Result);
    }
    HRESULT STDMETHODCALLTYPE Notify(TNotifyMessages Msg) noexcept override {
        Log(Prefix() + "Notify " + std::to_string(static_cast<int>(Msg)));
        Switches switches(letter_);
        switches.Crash("Notify");
        if (HRESULT status = switches.Status("Notify"); FAILED(status))
            return Fail(letter_, "Notify", status);
        return TOptionsControl::Notify(Msg);
    }

    // IOleObject ------------------------------------------------------------
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) noexcept override {
        Log(Prefix() + "SetClientSite " + (site ? "site" : "none"));
        return TOptionsControl::SetClientSite(site);
    }
    HRESULT STDMETHODCALLTYPE Close(DWORD option) noexcept override {
        Log(Prefix() + "Close");
        Switches(letter_).Crash("Close");
        HRESULT hr = TOptionsControl::Close(option);
        DestroyOwnWindow();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index,
                                     HWND parent, LPCRECT rect) noexcept override {
        Log(Prefix() + "DoVerb " + std::to_string(verb));
        Switches(letter_).Crash("DoVerb");
        if (verb == OLEIVERB_HIDE && own_) ::ShowWindow(own_, SW_HIDE);
        const bool show = verb == OLEIVERB_PRIMARY || verb == OLEIVERB_SHOW ||
                          verb == OLEIVERB_OPEN || verb == OLEIVERB_UIACTIVATE ||
                          verb == OLEIVERB_INPLACEACTIVATE;
        if (!show || Page()) return TOptionsControl::DoVerb(verb, msg, site, index, parent, rect);
        ComPtr<IOleClientSite> client;
        GetClientSite(client.put());
        if (!client) client = ComPtr<IOleClientSite>::Copy(site);
        if (!client) return E_UNEXPECTED;
        ComPtr<IOleInPlaceSite> inPlace;
        if (SUCCEEDED(client.As(inPlace)) && inPlace &&
            inPlace->CanInPlaceActivate() == S_OK)
            return TOptionsControl::DoVerb(verb, msg, site, index, parent, rect);
        // No place in the container: a window of its own, the page inside.
        RegisterOwnWindowClass();
        RECT pos = {100, 100, 100 + kWidth, 100 + kHeight};
        if (rect) pos = *rect;
        std::string caption = std::string("Test plug-in ") + letter_ + " options";
        own_ = ::CreateWindowExA(0, kOwnWindowClass, caption.c_str(),
                                 WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN, pos.left, pos.top,
                                 pos.right - pos.left, pos.bottom - pos.top, nullptr, nullptr,
                                 addons::ModuleInstance, nullptr);
        if (!own_) return E_FAIL;
        RECT inside;
        ::GetClientRect(own_, &inside);
        HRESULT hr = TOptionsControl::DoVerb(verb, msg, site, index, own_, &inside);
        if (FAILED(hr)) {
            DestroyOwnWindow();
            return hr;
        }
        ::ShowWindow(own_, SW_SHOW);
        client->OnShowWindow(TRUE);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() noexcept override {
        if (Page() && !own_) Log(Prefix() + "InPlaceDeactivate");
        return TOptionsControl::InPlaceDeactivate();
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) noexcept override {
        if (msg && msg->message == WM_KEYDOWN) {
            std::string keys = Switches(letter_).Text("AcceleratorKeys", "");
            if (keys.find(static_cast<char>(msg->wParam)) != std::string::npos) {
                Log(Prefix() + "TranslateAccelerator " + std::to_string(msg->wParam));
                return S_OK;
            }
        }
        return TOptionsControl::TranslateAccelerator(msg);
    }

    // IPersistStorage -----------------------------------------------------
    HRESULT STDMETHODCALLTYPE InitNew(IStorage* storage) noexcept override {
        Log(Prefix() + "InitNew");
        return TOptionsControl::InitNew(storage);
    }
    HRESULT STDMETHODCALLTYPE Load(IStorage* storage) noexcept override {
        Log(Prefix() + "Load");
        return TOptionsControl::Load(storage);
    }
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL sameAsLoad) noexcept override {
        Log(Prefix() + "Save");
        return TOptionsControl::Save(storage, sameAsLoad);
    }

protected:
    void CreateControls() override {
        std::wstring caption = ui::WideString(std::string("Test plug-in ") + letter_ + " options");
        Add(L"STATIC", caption.c_str(), 0, -1, 8, 8, 200, 20);
        Add(L"EDIT", ui::WideString(std::string(1, letter_) + " options").c_str(),
            WS_TABSTOP | ES_AUTOHSCROLL, kEditId, 8, 36, kWidth - 16, 22, WS_EX_CLIENTEDGE);
    }
    bool ApplySettings(IKestrixPlugin* plugin) override {
        char text[256] = {};
        ::GetDlgItemTextA(Page(), kEditId, text, sizeof text);
        SetPluginOptionsText(plugin, text);
        return true;
    }
    SIZE PreferredSize() const override { return {kWidth, kHeight}; }
    // The letter's own colour, and the field across the whole width.
    bool PageMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
        if (msg == kCrashMessage) {
            Switches(letter_).Crash("Page");
            result = 0;
            return true;
        }
        if (msg == WM_ERASEBKGND) {
            RECT rc;
            ::GetClientRect(Page(), &rc);
            ui::GdiBrush brush(::CreateSolidBrush(OptionsColor(letter_)));
            ::FillRect(reinterpret_cast<HDC>(wp), &rc, brush.get());
            result = 1;
            return true;
        }
        if (msg == WM_SIZE)
            if (HWND edit = ::GetDlgItem(Page(), kEditId))
                ::MoveWindow(edit, 8, 36, LOWORD(lp) > 16 ? LOWORD(lp) - 16 : 0, 22, TRUE);
        return false;
    }

private:
    std::string Prefix() const {
        return std::string(1, letter_) + " options " + std::to_string(number_) + " ";
    }

    void DestroyOwnWindow() {
        if (!own_) return;
        ::DestroyWindow(std::exchange(own_, nullptr));
        // Gone with its last window: the class must not outlive the DLL's code.
        ::UnregisterClassA(kOwnWindowClass, addons::ModuleInstance);
        ComPtr<IOleClientSite> client;
        GetClientSite(client.put());
        if (client) client->OnShowWindow(FALSE);
    }

    char letter_;
    int number_;
    HWND own_ = nullptr;
};

}  // namespace

automation::TComObject* CreateOptions(automation::TComObjectFactory& factory) {
    return new Options(factory);
}

}  // namespace test_plugin
