// A minimal Kestrix plug-in, "Sample: bitmap copy". Its page asks for a file
// name and whether a file of that name may be replaced; Execute writes the
// picture it is given to that file, as the bitmap file it already is.
//
// It needs only kestrix_plugin.h, the contract's type library (embedded by
// SamplePlugin.rc for IDispatch) and the Windows SDK. `regsvr32
// KestrixSample.dll` installs it, `regsvr32 /u KestrixSample.dll` removes it.
// This file holds the plug-in object, registration and the DLL's exports;
// SampleOptions.cpp the page; SampleCom.h what the two share.
#include "SampleCom.h"

#include <string>
#include <utility>

namespace sample {

// ---- the plug-in object ----------------------------------------------------

class SamplePlugin final : public Dual<IKestrixPlugin>, private Counted {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        if (iid == IID_SampleSelf) return Hand(static_cast<IKestrixPlugin*>(this), out);
        return Hand(DualInterface(iid), out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); }

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

void SetPluginSettings(IKestrixPlugin* self, std::wstring file, bool replace) {
    static_cast<SamplePlugin*>(self)->SetSettings(std::move(file), replace);
}

IClassFactory& PluginFactory() {
    static Factory<SamplePlugin> factory;
    return factory;
}

}  // namespace sample

namespace {

using namespace sample;

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
    if (clsid == CLSID_SamplePlugin) return PluginFactory().QueryInterface(iid, out);
    if (clsid == CLSID_SampleOptions) return OptionsFactory().QueryInterface(iid, out);
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