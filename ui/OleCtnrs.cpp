#include "ui/OleCtnrs.h"

#include "ui/Exception.h"
#include "ui/Forms.h"
#include "ui/Strings.h"

#include <ocidl.h>
#include <olectl.h>

#include <algorithm>
#include <vector>

namespace ui {

namespace {

// The container's own COM objects: interlocked counting, and the answer to
// QueryInterface once the interface is found.
template <class... Interfaces>
class LocalComObject : public Interfaces... {
public:
    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return static_cast<ULONG>(::InterlockedIncrement(&refs_));
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const auto n = static_cast<ULONG>(::InterlockedDecrement(&refs_));
        if (n == 0) delete this;
        return n;
    }

protected:
    virtual ~LocalComObject() = default;
    HRESULT Found(void* itf, void** out) noexcept {
        *out = itf;
        if (!itf) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    volatile LONG refs_ = 1;
};

VARIANT_BOOL Bool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

RECT ClientRect(HWND wnd) {
    RECT rc{};
    if (wnd) ::GetClientRect(wnd, &rc);
    return rc;
}

}  // namespace

// ---- the frame ----

// The form as the object sees it: no menus, no tool space, and the active
// object remembered for its accelerators.
class TOleFrame final : public LocalComObject<IOleInPlaceFrame> {
public:
    explicit TOleFrame(TOleContainer* owner) : owner_(owner) {}
    void Detach() noexcept { owner_ = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (!out) return E_POINTER;
        const bool known = iid == IID_IUnknown || iid == IID_IOleWindow ||
                           iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame;
        return Found(known ? static_cast<IOleInPlaceFrame*>(this) : nullptr, out);
    }

    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) noexcept override {
        if (!wnd) return E_POINTER;
        TForm* form = owner_ ? owner_->Form() : nullptr;
        *wnd = form ? form->Handle() : nullptr;
        return *wnd ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) noexcept override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS widths) noexcept override {
        return NoSpace(widths) ? S_OK : INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) noexcept override {
        return NoSpace(widths) ? S_OK : INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object,
                                              LPCOLESTR) noexcept override {
        if (owner_) owner_->ActiveObjectChanged(object);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS widths) noexcept override {
        // The form has no menu groups of its own: File, Container and Window
        // stay empty.
        if (widths) widths->width[0] = widths->width[2] = widths->width[4] = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) noexcept override {
        return S_FALSE;
    }

private:
    ~TOleFrame() override = default;
    static bool NoSpace(LPCBORDERWIDTHS w) {
        return !w || (w->left == 0 && w->top == 0 && w->right == 0 && w->bottom == 0);
    }
    TOleContainer* owner_;
};

// ---- the site ----

// One per embedded object; it outlives the container's interest in it as
// long as the object holds it, and then answers without a container.
class TOleSite final
    : public LocalComObject<IOleClientSite, IOleInPlaceSiteEx, IOleControlSite, IDispatch> {
public:
    explicit TOleSite(TOleContainer* owner)
        : owner_(owner), frame_(ComPtr<TOleFrame>::Attach(new TOleFrame(owner))) {}
    void Detach() noexcept {
        owner_ = nullptr;
        frame_->Detach();
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (!out) return E_POINTER;
        void* itf = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            itf = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite ||
                 iid == IID_IOleInPlaceSiteEx)
            itf = static_cast<IOleInPlaceSiteEx*>(this);
        else if (iid == IID_IOleControlSite)
            itf = static_cast<IOleControlSite*>(this);
        else if (iid == IID_IDispatch)
            itf = static_cast<IDispatch*>(this);
        return Found(itf, out);
    }

    // IOleClientSite: nothing is saved, there is no moniker and no
    // container object.
    HRESULT STDMETHODCALLTYPE SaveObject() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) noexcept override {
        if (moniker) *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) noexcept override {
        if (container) *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() noexcept override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) noexcept override {
        if (!wnd) return E_POINTER;
        *wnd = owner_ ? owner_->Handle() : nullptr;
        return *wnd ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) noexcept override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() noexcept override {
        return owner_ && owner_->Handle() && !owner_->Iconic() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() noexcept override {
        if (!owner_) return E_UNEXPECTED;
        return owner_->InPlaceActivated() ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() noexcept override {
        if (!owner_) return E_UNEXPECTED;
        owner_->ObjectFocusMoved();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                               LPRECT pos, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) noexcept override {
        if (frame) *frame = nullptr;
        if (doc) *doc = nullptr;
        if (!frame || !doc || !pos || !clip) return E_POINTER;
        if (!owner_) return E_UNEXPECTED;
        *frame = frame_.get();
        frame_->AddRef();
        // Stretched to the container.
        *pos = *clip = ClientRect(owner_->Handle());
        if (info) {
            TForm* form = owner_->Form();
            info->cb = sizeof *info;
            info->fMDIApp = FALSE;
            info->hwndFrame = form ? form->Handle() : nullptr;
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) noexcept override {
        if (owner_) {
            owner_->ActiveObjectChanged(nullptr);
            owner_->ObjectFocusMoved();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() noexcept override {
        if (owner_) owner_->InPlaceDeactivated();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) noexcept override {
        // The container decides: the object stays stretched to it.
        if (owner_) owner_->ResizeObject();
        return S_OK;
    }

    // IOleInPlaceSiteEx
    HRESULT STDMETHODCALLTYPE OnInPlaceActivateEx(BOOL* noRedraw, DWORD flags) noexcept override {
        if (noRedraw) *noRedraw = FALSE;
        // Windowless activation was never offered.
        if (flags & ACTIVATE_WINDOWLESS) return E_FAIL;
        return OnInPlaceActivate();
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivateEx(BOOL) noexcept override {
        return OnInPlaceDeactivate();
    }
    HRESULT STDMETHODCALLTYPE RequestUIActivate() noexcept override {
        return owner_ ? S_OK : S_FALSE;
    }

    // IOleControlSite
    HRESULT STDMETHODCALLTYPE OnControlInfoChanged() noexcept override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch** disp) noexcept override {
        if (disp) *disp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TransformCoords(POINTL*, POINTF*, DWORD) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD) noexcept override {
        // The form's dialog keys take what the object leaves.
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE OnFocus(BOOL) noexcept override {
        if (owner_) owner_->ObjectFocusMoved();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ShowPropertyFrame() noexcept override { return E_NOTIMPL; }

    // IDispatch: the ambient properties.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID,
                                            DISPID* ids) noexcept override {
        if (ids)
            for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS*,
                                     VARIANT* result, EXCEPINFO*, UINT*) noexcept override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        if (!result) return E_POINTER;
        ::VariantInit(result);
        switch (id) {
            case DISPID_AMBIENT_USERMODE:
                V_VT(result) = VT_BOOL;
                V_BOOL(result) = Bool(true);
                return S_OK;
            case DISPID_AMBIENT_UIDEAD:
            case DISPID_AMBIENT_MESSAGEREFLECT:
            case DISPID_AMBIENT_SHOWGRABHANDLES:
            case DISPID_AMBIENT_SHOWHATCHING:
            case DISPID_AMBIENT_DISPLAYASDEFAULT:
                V_VT(result) = VT_BOOL;
                V_BOOL(result) = Bool(false);
                return S_OK;
            case DISPID_AMBIENT_LOCALEID:
                V_VT(result) = VT_I4;
                V_I4(result) = static_cast<LONG>(::GetUserDefaultLCID());
                return S_OK;
            case DISPID_AMBIENT_BACKCOLOR:
                if (!owner_) break;
                V_VT(result) = VT_I4;
                V_I4(result) = static_cast<LONG>(ColorToRGB(owner_->Color()));
                return S_OK;
            case DISPID_AMBIENT_FORECOLOR:
                if (!owner_) break;
                V_VT(result) = VT_I4;
                V_I4(result) = static_cast<LONG>(ColorToRGB(owner_->Font().Color()));
                return S_OK;
            case DISPID_AMBIENT_FONT:
                if (!owner_) break;
                return AmbientFont(*result);
            default:
                break;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    ~TOleSite() override = default;

    HRESULT AmbientFont(VARIANT& result) noexcept {
        try {
            TFont& font = owner_->Font();
            std::wstring name = WideString(font.Name());
            FONTDESC desc = {};
            desc.cbSizeofstruct = sizeof desc;
            desc.lpstrName = name.data();
            desc.cySize.int64 = static_cast<LONGLONG>(font.Size()) * 10000;
            desc.sWeight = static_cast<SHORT>((font.Style() & fsBold) ? FW_BOLD : FW_NORMAL);
            desc.sCharset = font.Charset();
            desc.fItalic = (font.Style() & fsItalic) != 0;
            desc.fUnderline = (font.Style() & fsUnderline) != 0;
            desc.fStrikethrough = (font.Style() & fsStrikeOut) != 0;
            ComPtr<IFontDisp> disp;
            HRESULT hr = ::OleCreateFontIndirect(&desc, IID_IFontDisp, disp.put_void());
            if (FAILED(hr)) return hr;
            V_VT(&result) = VT_DISPATCH;
            V_DISPATCH(&result) = disp.Detach();
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    TOleContainer* owner_;
    ComPtr<TOleFrame> frame_;
};

// ---- focus inside the objects ----

namespace {
// Containers whose objects are in place. An object that does not tell its
// site when the focus moves among its windows is seen through a hook on
// this thread's focus changes.
std::vector<TOleContainer*>& FocusWatched() {
    static std::vector<TOleContainer*> watched;
    return watched;
}
WindowsHook& FocusHook() {
    static WindowsHook hook;
    return hook;
}
}  // namespace

LRESULT CALLBACK TOleContainer::FocusHookProc(int code, WPARAM wp, LPARAM lp) noexcept {
    if (code == HCBT_SETFOCUS) {
        const HWND to = reinterpret_cast<HWND>(wp), from = reinterpret_cast<HWND>(lp);
        for (TOleContainer* c : FocusWatched()) {
            const HWND own = c->wnd_;
            if (own && ((to && ::IsChild(own, to)) || (from && ::IsChild(own, from))))
                c->ObjectFocusMoved();
        }
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

void TOleContainer::WatchFocus(bool on) noexcept {
    auto& watched = FocusWatched();
    auto it = std::find(watched.begin(), watched.end(), this);
    if (!on) {
        if (it != watched.end()) watched.erase(it);
        if (watched.empty()) FocusHook().reset();
        return;
    }
    if (it != watched.end()) return;
    try {
        watched.push_back(this);
    } catch (...) {
        // Without the hook, focus the object does not report goes unseen
        // until it reaches one of our windows.
        return;
    }
    if (!FocusHook())
        FocusHook().reset(::SetWindowsHookExA(WH_CBT, &TOleContainer::FocusHookProc, nullptr,
                                              ::GetCurrentThreadId()));
}

void TOleContainer::ObjectFocusMoved() noexcept {
    if (TForm* form = wnd_ && !Dying() ? Form() : nullptr) form->FocusMovedElsewhere();
}

// ---- TOleContainer ----

TOleContainer::TOleContainer(TWinControl& parent, const TControlLayout& layout)
    : TCustomControl(parent, layout, "TOleContainer", WS_CLIPCHILDREN,
                     // Tab walks into the object's controls and out again.
                     WS_EX_CONTROLPARENT |
                         ((layout.Options & loNoBorder) ? 0u : DWORD(WS_EX_CLIENTEDGE))) {
    CaptureMouse = false;
}

TOleContainer::~TOleContainer() {
    DestroyObject();
    // Never left in the hook's list, whatever became of the object.
    WatchFocus(false);
}

void TOleContainer::DestroyingWindows() noexcept {
    // The object goes while its window still has a parent.
    DestroyObject();
}

void TOleContainer::RaiseNoObject() const {
    throw EOleError("The OLE container holds no object");
}

namespace {
// Posted to the container after a fault in a call of its own accord.
constexpr UINT WM_OBJECTFAULT = WM_APP + 0x4F1;
}  // namespace

template <class F>
decltype(auto) TOleContainer::ObjectCall(F&& f) {
    try {
        return ForeignCall(std::forward<F>(f));
    } catch (const EForeignFault&) {
        AbandonObject();
        throw;
    }
}

template <class F>
void TOleContainer::QuietObjectCall(F&& f) noexcept {
    try {
        ForeignCall(std::forward<F>(f));
    } catch (const EForeignFault& fault) {
        AbandonObject();
        faultCode_ = fault.Code;
        faultAddress_ = fault.Address;
        faultTag_ = ObjectTag;
        if (wnd_) ::PostMessageA(wnd_, WM_OBJECTFAULT, 0, 0);
    } catch (const EForeignCallsStopped&) {
        // No call reaches it any more, not even its last release.
        AbandonObject();
    } catch (...) {
    }
}

void TOleContainer::AbandonObject() noexcept {
    RemoveFormHooks();
    // Our own site stays alive for as long as the object may hold it, but
    // answers nothing any more.
    if (site_) site_->Detach();
    object_.Detach();
    site_.Detach();
    inPlaceObject_.Detach();
    activeObject_.Detach();
    storage_.Detach();
    ::InvalidateRect(wnd_, nullptr, TRUE);
}

void TOleContainer::CreateObject(const std::wstring& progId, bool iconic) {
    DestroyObject();
    const std::string what = "Cannot create the OLE object " + Quoted(progId);
    try {
      ObjectCall([&] {
        progId_ = progId;
        aspect_ = iconic ? DVASPECT_ICON : DVASPECT_CONTENT;
        CLSID clsid;
        OleCheck(::CLSIDFromProgID(progId.c_str(), &clsid), what);
        OleCheck(::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IOleObject,
                                    object_.put_void()),
                 what);
        site_ = ComPtr<TOleSite>::Attach(new TOleSite(this));
        DWORD misc = 0;
        if (FAILED(object_->GetMiscStatus(aspect_, &misc))) misc = 0;
        // Wine's OleCreate gets this order wrong, hence the steps by hand.
        const bool siteFirst = (misc & OLEMISC_SETCLIENTSITEFIRST) != 0;
        if (siteFirst) OleCheck(object_->SetClientSite(site_.get()), what);
        ComPtr<IPersistStorage> storage;
        ComPtr<IPersistStreamInit> stream;
        if (SUCCEEDED(object_.As(storage)) && storage) {
            ComPtr<ILockBytes> bytes;
            OleCheck(::CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.put()), what);
            OleCheck(::StgCreateDocfileOnILockBytes(
                         bytes.get(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                         storage_.put()),
                     what);
            OleCheck(storage->InitNew(storage_.get()), what);
        } else if (SUCCEEDED(object_.As(stream)) && stream) {
            OleCheck(stream->InitNew(), what);
        }
        if (!siteFirst) OleCheck(object_->SetClientSite(site_.get()), what);
        std::wstring app = WideString(Application.Title());
        object_->SetHostNames(app.c_str(), nullptr);
        ::OleSetContainedObject(object_.get(), TRUE);
        // The extent in HIMETRIC, for objects that lay out before activation;
        // at another DPI the pixels and the DPI scale alike, so it stays.
        RECT rc = ClientRect(wnd_);
        const int ppi = Form() ? Form()->PixelsPerInch() : ScreenPixelsPerInch();
        SIZEL extent{::MulDiv(rc.right, 2540, ppi), ::MulDiv(rc.bottom, 2540, ppi)};
        object_->SetExtent(aspect_, &extent);
      });
    } catch (const EForeignFault&) {
        throw;
    } catch (...) {
        DestroyObject();
        throw;
    }
}

void TOleContainer::DestroyObject() noexcept {
    if (!object_) return;
    QuietObjectCall([&] { CloseSteps(); });
}

void TOleContainer::CloseObject() {
    if (!object_) return;
    ObjectCall([&] { CloseSteps(); });
}

void TOleContainer::CloseSteps() {
    // Copies, not moves: a fault half-way leaves the members to
    // AbandonObject, which detaches our site so that the object left behind
    // can never reach this container once it is gone.
    ComPtr<IOleObject> object = object_;
    HWND own = ObjectWindow();
    if (!object_) {
        // It faulted telling its window, and is abandoned already.
        object.Detach();
        return;
    }
    HWND focus = ::GetFocus();
    // The keyboard stays with the form, not with a window that goes.
    if (own && wnd_ && !Dying() && (focus == own || ::IsChild(own, focus))) ::SetFocus(wnd_);
    if (ComPtr<IOleInPlaceObject> inPlace = inPlaceObject_) {
        inPlace->UIDeactivate();
        inPlace->InPlaceDeactivate();
    }
    object->Close(OLECLOSE_NOSAVE);
    object->SetClientSite(nullptr);
    RemoveFormHooks();
    if (site_) site_->Detach();
    site_.reset();
    inPlaceObject_.reset();
    activeObject_.reset();
    storage_.reset();
    object_.reset();
    // The last release: a fault in it abandons the local reference.
    object.reset();
}

ComPtr<IDispatch> TOleContainer::OleObject() const {
    if (!object_) RaiseNoObject();
    ComPtr<IDispatch> dispatch;
    OleCheck(ForeignCall([&] { return object_.As(dispatch); }),
             "The OLE object " + Quoted(progId_) + " has no automation interface");
    return dispatch;
}

void TOleContainer::DoVerb(LONG verb) {
    if (!object_) RaiseNoObject();
    RECT rc = ClientRect(wnd_);
    // The object may go while it runs the verb (a handler of ours destroys it).
    ObjectCall([&] {
        ComPtr<IOleObject> object = object_;
        ComPtr<TOleSite> site = site_;
        OleCheck(object->DoVerb(verb, nullptr, static_cast<IOleClientSite*>(site.get()), 0, wnd_, &rc),
                 "The OLE object " + Quoted(progId_) + " cannot carry out verb " +
                     std::to_string(verb));
    });
    HWND own = ObjectWindow();
    if (own && ::IsChild(wnd_, own)) {
        // An object window that is neither a tab stop nor a control parent
        // would keep Tab out of its controls.
        LONG style = ::GetWindowLongA(own, GWL_STYLE);
        LONG ex = ::GetWindowLongA(own, GWL_EXSTYLE);
        if (!(style & WS_TABSTOP) && !(ex & WS_EX_CONTROLPARENT))
            ::SetWindowLongA(own, GWL_EXSTYLE, ex | WS_EX_CONTROLPARENT);
    }
}

HWND TOleContainer::ObjectWindow() noexcept {
    HWND own = nullptr;
    if (!inPlaceObject_) return nullptr;
    // A fault here is the object's like any other: it is abandoned and
    // the fault reported once the message under way is done.
    QuietObjectCall([&] {
        if (FAILED(inPlaceObject_->GetWindow(&own))) own = nullptr;
    });
    return inPlaceObject_ ? own : nullptr;
}

bool TOleContainer::InPlaceActivated() noexcept {
    if (!object_) return false;
    ComPtr<IOleInPlaceObject> inPlace;
    // Called by the object itself, within a call of ours that runs in a
    // fault frame.
    if (FAILED(object_.As(inPlace))) return false;
    inPlaceObject_ = inPlace;
    WatchFocus(true);
    if (keyFilter_) return true;
    try {
        TForm* form = Form();
        if (form) {
            keyFilter_ = form->AddMessageFilter([this](MSG& msg) { return TranslateObjectKey(msg); });
            filterForm_ = form;
        }
        return true;
    } catch (...) {
        inPlaceObject_.reset();
        return false;
    }
}

void TOleContainer::InPlaceDeactivated() noexcept {
    RemoveFormHooks();
    inPlaceObject_.reset();
    activeObject_.reset();
}

void TOleContainer::ActiveObjectChanged(IOleInPlaceActiveObject* object) noexcept {
    activeObject_ = ComPtr<IOleInPlaceActiveObject>::Copy(object);
}

void TOleContainer::RemoveFormHooks() noexcept {
    WatchFocus(false);
    if (keyFilter_ && filterForm_) filterForm_->RemoveMessageFilter(keyFilter_);
    keyFilter_ = 0;
    filterForm_ = nullptr;
}

bool TOleContainer::TranslateObjectKey(MSG& msg) noexcept {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    HWND own = ObjectWindow();
    if (!own || (msg.hwnd != own && !::IsChild(own, msg.hwnd))) return false;
    // An object in place but not UI active still gets its keys.
    bool used = false;
    QuietObjectCall([&] {
        ComPtr<IOleInPlaceActiveObject> active = activeObject_;
        if (!active) inPlaceObject_.As(active);
        used = active && active->TranslateAccelerator(&msg) == S_OK;
    });
    return used;
}

void TOleContainer::ResizeObject() noexcept {
    if (!inPlaceObject_) return;
    RECT rc = ClientRect(wnd_);
    QuietObjectCall([&] {
        ComPtr<IOleInPlaceObject> inPlace = inPlaceObject_;
        inPlace->SetObjectRects(&rc, &rc);
    });
}

bool TOleContainer::WndProc(TMessage& msg) {
    switch (msg.Msg) {
        case WM_OBJECTFAULT:
            if (faultCode_ && OnObjectFault) {
                const EForeignFault fault(std::exchange(faultCode_, 0), faultAddress_);
                Guarded([&] { OnObjectFault(fault); });
            }
            return true;
        case WM_SIZE: {
            bool handled = TCustomControl::WndProc(msg);
            ResizeObject();
            return handled;
        }
        case WM_SETFOCUS:
            // Focus given to the container (the form coming back to it) goes
            // on to the object's first control.
            if (HWND own = HasObject() ? ObjectWindow() : nullptr) {
                TCustomControl::WndProc(msg);
                HWND first = ::GetNextDlgTabItem(own, nullptr, FALSE);
                ::SetFocus(first && first != own && ::IsChild(own, first) ? first : own);
                return true;
            }
            return TCustomControl::WndProc(msg);
        default:
            return TCustomControl::WndProc(msg);
    }
}

void TOleContainer::Paint(HDC dc) {
    RECT rc = ClientRect(wnd_);
    ::FillRect(dc, &rc, ColorBrush(Color()));
}

}  // namespace ui
