// A minimal Kestrix plug-in, "Sample: bitmap copy". Its page asks for a file
// name and whether a file of that name may be replaced; Execute writes the
// picture it is given to that file, as the bitmap file it already is.
//
// It needs only kestrix_plugin.h, the contract's type library (embedded by
// SamplePlugin.rc for IDispatch) and the Windows SDK. `regsvr32
// KestrixSample.dll` installs it, `regsvr32 /u KestrixSample.dll` removes it.
#include "kestrix_plugin.h"

#include <olectl.h>

#include <cwctype>
#include <new>
#include <string>
#include <utility>

namespace {

// Make identifiers of your own for a plug-in of your own.
const CLSID CLSID_SamplePlugin = {
    0x7E080D07, 0x5F36, 0x4A76, {0xB0, 0xB1, 0xB8, 0x23, 0x38, 0x4A, 0xB7, 0x14}};
const CLSID CLSID_SampleOptions = {
    0x76A05483, 0xEF05, 0x413E, {0x84, 0x1B, 0x93, 0x26, 0xEA, 0x1F, 0x29, 0x2D}};
// Private: lets the page find the plug-in object of this DLL behind the
// IKestrixPlugin it was handed.
const IID IID_SampleSelf = {
    0x247BCFE6, 0x0D04, 0x4D4C, {0x95, 0xB2, 0x9C, 0xC1, 0x66, 0x4C, 0x21, 0x06}};

const wchar_t kPluginProgId[] = L"KestrixSample.Plugin";
const wchar_t kOptionsProgId[] = L"KestrixSample.Options";
const wchar_t kPageClass[] = L"KestrixSamplePage";

enum { kLabelId = 1, kFileId, kReplaceId, kMessageId };

HINSTANCE module_ = nullptr;
volatile LONG objects_ = 0;
volatile LONG locks_ = 0;

// An owned COM reference.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(Ref&& o) noexcept : p_(o.detach()) {}
    Ref& operator=(Ref&& o) noexcept {
        reset(o.detach());
        return *this;
    }
    ~Ref() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T** put() {
        reset();
        return &p_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }
    void reset(T* p = nullptr) {
        if (p_) p_->Release();
        p_ = p;
    }
    void copy(T* p) {
        if (p) p->AddRef();
        reset(p);
    }
    T* detach() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

struct FileHandle {
    HANDLE h;
    ~FileHandle() {
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
};
struct RegKey {
    HKEY h = nullptr;
    ~RegKey() {
        if (h) ::RegCloseKey(h);
    }
};
struct Font {
    HFONT h = nullptr;
    ~Font() {
        if (h) ::DeleteObject(h);
    }
};

std::wstring GuidText(REFGUID id) {
    wchar_t text[40] = {};
    ::StringFromGUID2(id, text, 40);
    return text;
}

std::wstring SystemText(DWORD error) {
    wchar_t* text = nullptr;
    ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring s = text ? text : L"Error " + std::to_wstring(error);
    if (text) ::LocalFree(text);
    while (!s.empty() && (s.back() == L'\n' || s.back() == L'\r' || s.back() == L' ')) s.pop_back();
    return s;
}

// A failing call status with the message as error information: the program
// shows the message to the user.
HRESULT Fail(REFIID iid, HRESULT hr, const std::wstring& message) noexcept {
    Ref<ICreateErrorInfo> create;
    if (SUCCEEDED(::CreateErrorInfo(create.put()))) {
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(kPluginProgId));
        create->SetDescription(const_cast<LPOLESTR>(message.c_str()));
        Ref<IErrorInfo> info;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.put_void())))
            ::SetErrorInfo(0, info.get());
    }
    return hr;
}

// Runs a method's body: no C++ exception may leave a COM method.
template <class Body>
HRESULT Guarded(REFIID iid, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return Fail(iid, E_OUTOFMEMORY, L"Not enough memory");
    } catch (...) {
        return Fail(iid, E_UNEXPECTED, L"Unexpected error in the sample plug-in");
    }
}

std::wstring ModulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = ::GetModuleFileNameW(module_, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) return path.substr(0, n);
        path.resize(path.size() * 2);
    }
}

// The vtable view of a dual interface, from this DLL's own copy of the type
// library: what IDispatch is answered from.
HRESULT ContractTypeInfo(REFIID iid, ITypeInfo** out) {
    *out = nullptr;
    Ref<ITypeLib> library;
    HRESULT hr = ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, library.put());
    if (FAILED(hr)) return hr;
    Ref<ITypeInfo> dispatchView;
    hr = library->GetTypeInfoOfGuid(iid, dispatchView.put());
    if (FAILED(hr)) return hr;
    HREFTYPE vtableView = 0;
    hr = dispatchView->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableView);
    if (FAILED(hr)) return hr;
    return dispatchView->GetRefTypeInfo(vtableView, out);
}

inline const IID& IidOf(IKestrixPlugin*) { return IID_IKestrixPlugin; }
inline const IID& IidOf(IKestrixPluginOptions*) { return IID_IKestrixPluginOptions; }

// IDispatch of a dual interface, for scripts and other processes.
template <class Itf>
class Dual : public Itf {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
        if (!info) return E_POINTER;
        *info = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        HRESULT hr = Load();
        if (SUCCEEDED(hr)) {
            typeInfo_->AddRef();
            *info = typeInfo_.get();
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = Load();
        return FAILED(hr) ? hr : ::DispGetIDsOfNames(typeInfo_.get(), names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* excep, UINT* argErr) override {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        HRESULT hr = Load();
        if (FAILED(hr)) return hr;
        return ::DispInvoke(static_cast<Itf*>(this), typeInfo_.get(), id, flags, params, result,
                            excep, argErr);
    }

private:
    HRESULT Load() {
        return typeInfo_ ? S_OK : ContractTypeInfo(IidOf(static_cast<Itf*>(this)), typeInfo_.put());
    }
    Ref<ITypeInfo> typeInfo_;
};

// Reference counting, and the count of live objects that keeps the DLL
// loaded.
class Counted {
protected:
    Counted() { ::InterlockedIncrement(&objects_); }
    virtual ~Counted() { ::InterlockedDecrement(&objects_); }
    ULONG AddRefCount() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG ReleaseCount() {
        LONG n = ::InterlockedDecrement(&refs_);
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

private:
    volatile LONG refs_ = 1;
};

// ---- the plug-in object ----------------------------------------------------

class SamplePlugin final : public Dual<IKestrixPlugin>, public ISupportErrorInfo, private Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IKestrixPlugin ||
            iid == IID_SampleSelf)
            *out = static_cast<IKestrixPlugin*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IID_IKestrixPlugin ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE GetPluginInfo(BSTR* Name, BSTR* Description, BSTR* OptionsObjectName,
                                            HRESULT* Result) override {
        if (!Name || !Description || !OptionsObjectName || !Result) return E_POINTER;
        *Name = ::SysAllocString(L"Sample: bitmap copy");
        *Description = ::SysAllocString(L"Writes the picture to a bitmap file of your choice");
        *OptionsObjectName = ::SysAllocString(GuidText(CLSID_SampleOptions).c_str());
        *Result = S_OK;
        if (*Name && *Description && *OptionsObjectName) return S_OK;
        for (BSTR* s : {Name, Description, OptionsObjectName}) {
            ::SysFreeString(*s);
            *s = nullptr;
        }
        return E_OUTOFMEMORY;
    }

    HRESULT STDMETHODCALLTYPE Execute(IUnknown* ImageStream, LONG /*ParentWnd*/,
                                      HRESULT* Result) override {
        if (!Result) return E_POINTER;
        *Result = S_OK;
        return Guarded(IID_IKestrixPlugin, [&]() -> HRESULT {
            if (file_.empty())
                return Fail(IID_IKestrixPlugin, E_UNEXPECTED,
                            L"The sample plug-in was run before its page saved its settings");
            Ref<IStream> stream;
            if (!ImageStream ||
                FAILED(ImageStream->QueryInterface(IID_IStream, stream.put_void())))
                return Fail(IID_IKestrixPlugin, E_INVALIDARG, L"The picture is not a stream");
            std::string bytes;
            if (!ReadBitmapFile(stream.get(), bytes))
                return Fail(IID_IKestrixPlugin, E_INVALIDARG,
                            L"The picture is not a bitmap file that can be read");
            return WriteWhole(bytes);
        });
    }

    void SetSettings(std::wstring file, bool replace) {
        file_ = std::move(file);
        replace_ = replace;
    }

private:
    // The whole bitmap file, after a check that it is one.
    static bool ReadBitmapFile(IStream* stream, std::string& bytes) {
        BITMAPFILEHEADER head = {};
        if (!ReadExactly(stream, &head, sizeof head) || head.bfType != 0x4D42) return false;
        const DWORD kMost = 1u << 30;
        if (head.bfSize < sizeof head + sizeof(BITMAPINFOHEADER) || head.bfSize > kMost ||
            head.bfOffBits > head.bfSize)
            return false;
        bytes.assign(reinterpret_cast<const char*>(&head), sizeof head);
        bytes.resize(head.bfSize);
        if (!ReadExactly(stream, bytes.data() + sizeof head, head.bfSize - sizeof head)) return false;
        const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(bytes.data() + sizeof head);
        return info->biSize >= sizeof(BITMAPINFOHEADER);
    }
    static bool ReadExactly(IStream* stream, void* to, ULONG size) {
        auto* p = static_cast<char*>(to);
        while (size > 0) {
            ULONG got = 0;
            if (FAILED(stream->Read(p, size, &got)) || got == 0) return false;
            p += got;
            size -= got;
        }
        return true;
    }

    // Written beside the target and renamed into place, so that the target
    // is either whole or untouched.
    HRESULT WriteWhole(const std::string& bytes) {
        auto fail = [&](DWORD error) {
            return Fail(IID_IKestrixPlugin, HRESULT_FROM_WIN32(error),
                        L"Cannot write the picture to \"" + file_ + L"\": " + SystemText(error));
        };
        if (!replace_ && ::GetFileAttributesW(file_.c_str()) != INVALID_FILE_ATTRIBUTES)
            return fail(ERROR_FILE_EXISTS);
        const std::wstring part = file_ + L".part";
        DWORD error = 0;
        {
            FileHandle out{::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)};
            if (out.h == INVALID_HANDLE_VALUE) return fail(::GetLastError());
            DWORD written = 0;
            if (!::WriteFile(out.h, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                             nullptr))
                error = ::GetLastError();
            else if (written != bytes.size())
                error = ERROR_DISK_FULL;
        }  // closed here, so that it can be removed
        if (!error &&
            !::MoveFileExW(part.c_str(), file_.c_str(), replace_ ? MOVEFILE_REPLACE_EXISTING : 0))
            error = ::GetLastError();
        if (!error) return S_OK;
        ::DeleteFileW(part.c_str());
        return fail(error);
    }

    std::wstring file_;
    bool replace_ = false;
};

// ---- the options object: the page ------------------------------------------

class SampleOptions final : public Dual<IKestrixPluginOptions>,
                            public IOleObject,
                            public IOleInPlaceObject,
                            public IOleInPlaceActiveObject,
                            public ISupportErrorInfo,
                            private Counted {
public:
    ~SampleOptions() override { DestroyPage(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IKestrixPluginOptions)
            *out = static_cast<IKestrixPluginOptions*>(this);
        else if (iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IOleInPlaceActiveObject)
            *out = static_cast<IOleInPlaceActiveObject*>(this);
        else if (iid == IID_ISupportErrorInfo)
            *out = static_cast<ISupportErrorInfo*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
        return iid == IID_IKestrixPluginOptions ? S_OK : S_FALSE;
    }

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
            static_cast<SamplePlugin*>(self.get())->SetSettings(file, replace);
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

// ---- the class factories -----------------------------------------------------

template <class Object>
class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    // Static: the locks, not the references, keep the DLL loaded.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        Object* object = new (std::nothrow) Object();
        if (!object) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ::InterlockedIncrement(&locks_);
        else
            ::InterlockedDecrement(&locks_);
        return S_OK;
    }
};
Factory<SamplePlugin> pluginFactory;
Factory<SampleOptions> optionsFactory;

// ---- registration -------------------------------------------------------------

LONG SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    RegKey k;
    LONG rc = ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k.h,
                                nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    return ::RegSetValueExW(k.h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

// CLSID\{...} with its in-process server, and the ProgID, under root.
LONG WriteClass(HKEY root, REFCLSID clsid, const wchar_t* progId, const wchar_t* description,
                const std::wstring& dll) {
    const std::wstring key = L"CLSID\\" + GuidText(clsid);
    LONG rc = SetValue(root, key, nullptr, description);
    if (rc == ERROR_SUCCESS) rc = SetValue(root, key + L"\\InprocServer32", nullptr, dll);
    // The program calls its plug-ins on its user-interface thread.
    if (rc == ERROR_SUCCESS) rc = SetValue(root, key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    if (rc == ERROR_SUCCESS) rc = SetValue(root, key + L"\\ProgID", nullptr, progId);
    if (rc == ERROR_SUCCESS) rc = SetValue(root, progId, nullptr, description);
    if (rc == ERROR_SUCCESS) rc = SetValue(root, std::wstring(progId) + L"\\CLSID", nullptr, GuidText(clsid));
    return rc;
}

LONG WriteClasses(HKEY root, const std::wstring& dll) {
    LONG rc = WriteClass(root, CLSID_SamplePlugin, kPluginProgId, L"Kestrix sample plug-in", dll);
    if (rc == ERROR_SUCCESS)
        rc = WriteClass(root, CLSID_SampleOptions, kOptionsProgId, L"Kestrix sample plug-in page", dll);
    return rc;
}

void DeleteClasses(HKEY root) {
    ::RegDeleteTreeW(root, (L"CLSID\\" + GuidText(CLSID_SamplePlugin)).c_str());
    ::RegDeleteTreeW(root, (L"CLSID\\" + GuidText(CLSID_SampleOptions)).c_str());
    ::RegDeleteTreeW(root, kPluginProgId);
    ::RegDeleteTreeW(root, kOptionsProgId);
}

const wchar_t kUserClasses[] = L"Software\\Classes";

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        module_ = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (clsid == CLSID_SamplePlugin) return pluginFactory.QueryInterface(iid, out);
    if (clsid == CLSID_SampleOptions) return optionsFactory.QueryInterface(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The program never unloads plug-ins, but other hosts may.
STDAPI DllCanUnloadNow() { return objects_ == 0 && locks_ == 0 ? S_OK : S_FALSE; }

// The classes (for the machine, or for this user where the machine's are
// refused) and the plug-in key of this user.
STDAPI DllRegisterServer() {
    const std::wstring dll = ModulePath();
    if (dll.empty()) return SELFREG_E_CLASS;
    LONG rc = WriteClasses(HKEY_CLASSES_ROOT, dll);
    if (rc == ERROR_ACCESS_DENIED) {
        DeleteClasses(HKEY_CLASSES_ROOT);
        RegKey user;
        rc = ::RegCreateKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &user.h, nullptr);
        if (rc == ERROR_SUCCESS) rc = WriteClasses(user.h, dll);
    }
    if (rc != ERROR_SUCCESS) return SELFREG_E_CLASS;
    RegKey plugin;
    rc = ::RegCreateKeyExW(HKEY_CURRENT_USER,
                           (std::wstring(kKestrixPluginsKey) + L"\\" + GuidText(CLSID_SamplePlugin)).c_str(),
                           0, nullptr, 0, KEY_WRITE, nullptr, &plugin.h, nullptr);
    return rc == ERROR_SUCCESS ? S_OK : SELFREG_E_CLASS;
}

STDAPI DllUnregisterServer() {
    ::RegDeleteTreeW(HKEY_CURRENT_USER,
                     (std::wstring(kKestrixPluginsKey) + L"\\" + GuidText(CLSID_SamplePlugin)).c_str());
    DeleteClasses(HKEY_CLASSES_ROOT);
    RegKey user;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kUserClasses, 0, KEY_ALL_ACCESS, &user.h) == ERROR_SUCCESS)
        DeleteClasses(user.h);
    return S_OK;
}
