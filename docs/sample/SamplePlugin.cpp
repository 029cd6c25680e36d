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
            BitmapHead head = {};
            if (!ReadHead(stream.get(), head)) return NotABitmap();
            return WriteWhole(stream.get(), head);
        });
    }

    void SetSettings(std::wstring file, bool replace) {
        file_ = std::move(file);
        replace_ = replace;
    }

private:
    // The two headers a bitmap file starts with.
    struct BitmapHead {
        BITMAPFILEHEADER file;
        BITMAPINFOHEADER info;
    };
    static constexpr DWORD kHeadSize = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    static HRESULT NotABitmap() {
        return Fail(IID_IKestrixPlugin, E_INVALIDARG,
                    L"The picture is not a bitmap file that can be read");
    }
    // The start of the file, after a check that it is a bitmap file.
    static bool ReadHead(IStream* stream, BitmapHead& head) {
        const DWORD kMost = 1u << 30;
        return ReadExactly(stream, &head.file, sizeof head.file) && head.file.bfType == 0x4D42 &&
               head.file.bfSize >= kHeadSize && head.file.bfSize <= kMost &&
               head.file.bfOffBits <= head.file.bfSize &&
               ReadExactly(stream, &head.info, sizeof head.info) &&
               head.info.biSize >= sizeof(BITMAPINFOHEADER);
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
    // is either whole or untouched. The picture goes across piece by piece:
    // a copy of it all would grow the C runtime's heap, which the program
    // keeps for as long as it runs.
    HRESULT WriteWhole(IStream* stream, const BitmapHead& head) {
        auto fail = [&](DWORD error) {
            return Fail(IID_IKestrixPlugin, HRESULT_FROM_WIN32(error),
                        L"Cannot write the picture to \"" + file_ + L"\": " + SystemText(error));
        };
        if (!replace_ && ::GetFileAttributesW(file_.c_str()) != INVALID_FILE_ATTRIBUTES)
            return fail(ERROR_FILE_EXISTS);
        const std::wstring part = file_ + L".part";
        DWORD error = 0;
        bool whole = true;
        {
            FileHandle out{::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)};
            if (out.h == INVALID_HANDLE_VALUE) return fail(::GetLastError());
            auto write = [&](const void* bytes, DWORD size) {
                DWORD written = 0;
                if (!::WriteFile(out.h, bytes, size, &written, nullptr))
                    error = ::GetLastError();
                else if (written != size)
                    error = ERROR_DISK_FULL;
                return error == 0;
            };
            char piece[16384];
            DWORD left = head.file.bfSize - kHeadSize;
            bool more = write(&head.file, sizeof head.file) && write(&head.info, sizeof head.info);
            while (more && left > 0) {
                const DWORD size = left < sizeof piece ? left : DWORD(sizeof piece);
                whole = ReadExactly(stream, piece, size);
                more = whole && write(piece, size);
                left -= size;
            }
        }  // closed here, so that it can be removed
        if (!error && whole &&
            !::MoveFileExW(part.c_str(), file_.c_str(), replace_ ? MOVEFILE_REPLACE_EXISTING : 0))
            error = ::GetLastError();
        if (!error && whole) return S_OK;
        ::DeleteFileW(part.c_str());
        return whole ? fail(error) : NotABitmap();
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