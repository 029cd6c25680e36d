// The options page of an add-on: an embeddable control that a container
// creates, shows in place on its own window (or, without an in-place site,
// as a child of the window DoVerb names) and drives through
// IKestrixPluginOptions. Derived pages build their controls, answer their
// commands and hand their settings to the plug-in.
#pragma once

#include "addons/common/AutoObject.h"

#include <string>

namespace addons {

class TOptionsControl
    : public TAutoObject<IKestrixPluginOptions, IOleObject, IOleInPlaceObject,
                         IOleInPlaceActiveObject, IPersistStorage> {
public:
    explicit TOptionsControl(automation::TComObjectFactory& factory);
    ~TOptionsControl() override;

    // IKestrixPluginOptions
    HRESULT STDMETHODCALLTYPE SetPlugin(IKestrixPlugin* Plugin) noexcept override;
    HRESULT STDMETHODCALLTYPE SaveSettings(HRESULT* Result) noexcept override;
    HRESULT STDMETHODCALLTYPE Notify(TNotifyMessages Msg) noexcept override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) noexcept override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) noexcept override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD) noexcept override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) noexcept override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                                     LPCRECT rect) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) noexcept override;
    HRESULT STDMETHODCALLTYPE Update() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* type) noexcept override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) noexcept override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) noexcept override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) noexcept override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) noexcept override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD* status) noexcept override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) noexcept override { return E_NOTIMPL; }

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) noexcept override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() noexcept override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() noexcept override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT pos, LPCRECT clip) noexcept override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() noexcept override {
        return INPLACE_E_NOTUNDOABLE;
    }
    // Tab, arrows and mnemonics move through the page's controls; Tab at
    // the last control and Shift+Tab at the first, Esc, and Enter outside
    // a button are given back (S_FALSE), so the container's keys work.
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) noexcept override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) noexcept override { return S_OK; }

    // IPersistStorage: nothing to keep, the settings live in the registry.
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) noexcept override;
    HRESULT STDMETHODCALLTYPE IsDirty() noexcept override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE InitNew(IStorage*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Load(IStorage*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Save(IStorage* storage, BOOL) noexcept override;
    HRESULT STDMETHODCALLTYPE SaveCompleted(IStorage*) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE HandsOffStorage() noexcept override { return S_OK; }

    HWND Page() const { return page_; }
    // The text the page shows in its message line.
    std::wstring MessageText() const;

protected:
    void* GetInterface(REFIID iid) noexcept override;

    // Builds the page's controls on page, at 96-DPI positions through Add.
    virtual void CreateControls() = 0;
    // A command from one of the page's controls.
    virtual void Command(int id, int code) {}
    // Checks the choices; on success hands them to the plug-in and returns
    // true, otherwise returns false with the reason in the message line.
    virtual bool ApplySettings(IKestrixPlugin* plugin) = 0;
    // The size the page asks for, at 96 DPI.
    virtual SIZE PreferredSize() const { return {542, 260}; }
    // A message to the page window before the page's own handling; true
    // when handled, with its result in result.
    virtual bool PageMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) { return false; }

    // A child control at 96-DPI coordinates, with the page's font.
    HWND Add(const wchar_t* windowClass, const wchar_t* text, DWORD style, int id, int x, int y,
             int w, int h, DWORD exStyle = 0);
    HWND Item(int id) const { return ::GetDlgItem(page_, id); }
    std::wstring ItemText(int id) const;
    void SetItemText(int id, const std::wstring& text);
    // The message line: a failure's reason in the warning colour, or empty.
    void SetMessage(const std::wstring& text);

private:
    static LRESULT CALLBACK PageProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) noexcept;
    HRESULT Activate(bool uiActivate, HWND parentHint, LPCRECT rectHint);
    void CreatePage(HWND parent, const RECT& pos);
    void DestroyPage();
    // The page's child that holds wnd (a control, or the control around it).
    HWND TabItem(HWND wnd) const noexcept;
    int Scale(int v) const;

    ui::ComPtr<IKestrixPlugin> plugin_;
    ui::ComPtr<IOleClientSite> site_;
    ui::ComPtr<IOleInPlaceSite> inPlaceSite_;
    ui::ComPtr<IOleInPlaceFrame> frame_;
    ui::ComPtr<IOleInPlaceUIWindow> uiWindow_;
    ui::ComPtr<IOleAdviseHolder> adviseHolder_;
    HWND page_ = nullptr;
    HWND message_ = nullptr;
    ui::GdiFont font_;
    int dpi_ = 96;
    bool uiActive_ = false;
    SIZEL extent_ = {};
};

// Removes the page's window class when the DLL unloads.
void UnregisterPageClass();

// The page's message line and its id, for the pages' layouts.
inline constexpr int kMessageId = 999;

}  // namespace addons
