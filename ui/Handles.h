// Small owners for Win32 resources, so that no error path has to release
// anything by hand.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <utility>

namespace ui {

// One owner for every handle kind; Traits supplies the null value and the
// release call.
template <class Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Handle h) noexcept : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    Handle get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::null(); }
    Handle release() noexcept { return std::exchange(h_, Traits::null()); }
    void reset(Handle h = Traits::null()) noexcept {
        Handle old = std::exchange(h_, h);
        if (old != Traits::null()) Traits::close(old);
    }
    // For APIs that return the handle through an out parameter.
    Handle* put() noexcept { reset(); return &h_; }

private:
    Handle h_ = Traits::null();
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle null() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { ::CloseHandle(h); }
};
struct FindTraits {
    using Handle = HANDLE;
    static Handle null() { return INVALID_HANDLE_VALUE; }
    static void close(Handle h) { ::FindClose(h); }
};
// Every GDI object is deleted alike; the handle type says which kind is
// owned, so that its users need no casts.
template <class H>
struct GdiTraits {
    using Handle = H;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::DeleteObject(h); }
};
struct MemDcTraits {
    using Handle = HDC;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::DeleteDC(h); }
};
struct RegKeyTraits {
    using Handle = HKEY;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::RegCloseKey(h); }
};
struct GlobalTraits {
    using Handle = HGLOBAL;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::GlobalFree(h); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::FreeLibrary(h); }
};
struct WindowTraits {
    using Handle = HWND;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::DestroyWindow(h); }
};
struct MenuTraits {
    using Handle = HMENU;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::DestroyMenu(h); }
};
struct IconTraits {
    using Handle = HICON;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::DestroyIcon(h); }
};

struct HookTraits {
    using Handle = HHOOK;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::UnhookWindowsHookEx(h); }
};

struct CoTaskMemTraits {
    using Handle = wchar_t*;
    static Handle null() { return nullptr; }
    static void close(Handle h) { ::CoTaskMemFree(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindTraits>;
template <class H>
using GdiHandle = UniqueHandle<GdiTraits<H>>;
using GdiObject = GdiHandle<HGDIOBJ>;
using GdiBitmap = GdiHandle<HBITMAP>;
using GdiFont = GdiHandle<HFONT>;
using GdiBrush = GdiHandle<HBRUSH>;
using GdiPen = GdiHandle<HPEN>;
using GdiRegion = GdiHandle<HRGN>;
using GdiPalette = GdiHandle<HPALETTE>;
using MemDc = UniqueHandle<MemDcTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using GlobalMem = UniqueHandle<GlobalTraits>;
using Module = UniqueHandle<ModuleTraits>;
using Window = UniqueHandle<WindowTraits>;
using Menu = UniqueHandle<MenuTraits>;
using Icon = UniqueHandle<IconTraits>;
using WindowsHook = UniqueHandle<HookTraits>;
// A string the system allocated for the caller (SHGetKnownFolderPath, ...).
using CoTaskString = UniqueHandle<CoTaskMemTraits>;

// A window's DC from GetDC, released to the same window.
class WindowDc {
public:
    explicit WindowDc(HWND wnd) : wnd_(wnd), dc_(::GetDC(wnd)) {}
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() { if (dc_) ::ReleaseDC(wnd_, dc_); }
    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

private:
    HWND wnd_;
    HDC dc_;
};

// Selects an object into a DC for the scope and puts the old one back.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ obj) : dc_(dc), old_(::SelectObject(dc, obj)) {}
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    ~SelectGuard() { if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_); }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Locks global memory for the scope.
class GlobalLock {
public:
    explicit GlobalLock(HGLOBAL h) : h_(h), p_(::GlobalLock(h)) {}
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;
    ~GlobalLock() { if (p_) ::GlobalUnlock(h_); }
    void* get() const noexcept { return p_; }

private:
    HGLOBAL h_;
    void* p_;
};

// Runs a call when the scope ends, however it ends; Release() keeps it
// from running. The call must not throw.
template <class F>
class ScopeExit {
public:
    explicit ScopeExit(F fn) noexcept : fn_(std::move(fn)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) fn_();
    }
    void Release() noexcept { armed_ = false; }

private:
    F fn_;
    bool armed_ = true;
};

// Reference to a COM interface.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already owns.
    static ComPtr Attach(T* p) noexcept { ComPtr r; r.p_ = p; return r; }
    // Adds a reference of its own.
    static ComPtr Copy(T* p) noexcept { if (p) p->AddRef(); return Attach(p); }
    ComPtr(const ComPtr& o) noexcept : p_(o.p_) { if (p_) p_->AddRef(); }
    ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ComPtr& operator=(ComPtr o) noexcept { std::swap(p_, o.p_); return *this; }
    ~ComPtr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T* Detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept { if (T* p = std::exchange(p_, nullptr)) p->Release(); }
    T** put() noexcept { reset(); return &p_; }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    // Another interface of the same object, by the interface's own IID.
    template <class U>
    HRESULT As(ComPtr<U>& out) const noexcept {
        return As(__uuidof(U), out);
    }
    template <class U>
    ComPtr<U> As() const noexcept {
        ComPtr<U> out;
        As(out);
        return out;
    }
    // For an IID known only at run time.
    template <class U>
    HRESULT As(const IID& iid, ComPtr<U>& out) const noexcept {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, out.put_void());
    }

private:
    T* p_ = nullptr;
};

// A BSTR owned for the scope.
class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(const wchar_t* s) : s_(s ? ::SysAllocString(s) : nullptr) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& o) noexcept : s_(std::exchange(o.s_, nullptr)) {}
    ~Bstr() { ::SysFreeString(s_); }
    BSTR get() const noexcept { return s_; }
    BSTR* put() noexcept { ::SysFreeString(s_); s_ = nullptr; return &s_; }
    BSTR Detach() noexcept { return std::exchange(s_, nullptr); }
    UINT Length() const noexcept { return ::SysStringLen(s_); }

private:
    BSTR s_ = nullptr;
};

}  // namespace ui
