// The wizard's costs: writing a 4K picture into the stream a plug-in
// receives against a memcpy of its pixels; opening the wizard with 100
// installed plug-ins against the bare GetPlugin + GetPluginInfo calls for
// them. Prints ratios. (The memory the program keeps after the wizard is
// measured from outside, by bench_capture.)
#include "bench/BenchProgram.h"
#include "bench/BenchTiming.h"
#include "automation/ComObj.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/TestSupport.h"
#include "tests/support/TrayDialog.h"
#include "ui/BitmapFile.h"
#include "wizard/AfterScreenShotWindowUnit.h"
#include "tests/support/ProgramServer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace ui;
using namespace testing_support;

using namespace bench;

namespace {

void StreamRatio() {
    TBitmap picture(3840, 2160, pf32bit);
    const size_t bytes = static_cast<size_t>(picture.Stride()) * picture.Height();
    std::memset(picture.Bits(), 0x5A, bytes);
    std::vector<uint8_t> target(bytes);
    // A run: the best of 3 of each, turn about.
    Runs fresh, copy;
    for (int round = 0; round < 9; ++round) {
        const double c = Best(3, [&] { std::memcpy(target.data(), picture.ConstBits(), bytes); });
        // The same into memory just allocated, as any new stream's is.
        const double f = Best(3, [&] {
            GlobalMem block(::GlobalAlloc(GMEM_MOVEABLE, bytes));
            ui::GlobalLock p(block.get());
            std::memcpy(p.get(), picture.ConstBits(), bytes);
        });
        const double stream = Best(3, [&] { BitmapFileStream(picture); });
        fresh.Add(stream, f);
        copy.Add(stream, c);
    }
    std::printf("stream: 3840 x 2160 32-bit picture into the stream %.1f ms, memcpy %.1f ms, "
                "memcpy into new memory %.1f ms (medians)\n",
                fresh.Cost() * 1e3, copy.Base() * 1e3, fresh.Base() * 1e3);
    Report("stream/memcpy-new", "ratio stream / memcpy into new memory", fresh.Ratio(), 1.1);
    Report("", "ratio stream / memcpy", copy.Ratio());
}

// ---- a plug-in served from this process, under as many identifiers as needed ----

class BenchPlugin final : public IKestrixPlugin {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IKestrixPlugin) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ::InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        LONG n = ::InterlockedDecrement(&refs_);
        if (!n) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) noexcept override { *n = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPluginInfo(BSTR* Name, BSTR* Description, BSTR* OptionsObjectName,
                                            HRESULT* Result) noexcept override {
        *Name = ::SysAllocString(L"Bench plug-in");
        *Description = ::SysAllocString(L"Lists itself, does nothing");
        *OptionsObjectName = ::SysAllocString(L"{A02297E3-08A1-4F8A-AE5B-4B74FF06F1D4}");
        *Result = S_OK;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Execute(IUnknown*, LONG, HRESULT* Result) noexcept override {
        *Result = S_OK;
        return S_OK;
    }

private:
    LONG refs_ = 1;
};

class BenchFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) noexcept override {
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) noexcept override {
        auto* p = new (std::nothrow) BenchPlugin;
        if (!p) return E_OUTOFMEMORY;
        HRESULT hr = p->QueryInterface(iid, out);
        p->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) noexcept override { return S_OK; }
};

// Batches with and without the plug-ins interleave: HKEY_CURRENT_USER is
// pointed at one of two scratch keys, one that lists 100 plug-ins and one
// that lists none.
void OpenRatio(HKEY many, HKEY none) {
    static BenchFactory factory;
    std::vector<DWORD> cookies;
    for (int i = 0; i < 100; ++i) {
        GUID guid;
        ::CoCreateGuid(&guid);
        DWORD cookie = 0;
        ::CoRegisterClassObject(guid, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        cookies.push_back(cookie);
        RegKey key;
        ::RegCreateKeyExA(many, (std::string(kPluginsKey) + "\\" + automation::GuidToString(guid)).c_str(),
                          0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
    }
    auto bare = [] {
        ComPtr<IKestrixObject> directory = CoKestrixObject::Create();
        Bstr list;
        directory->GetPluginList(list.put());
        for (const std::string& id : SplitPluginList(list.get())) {
            ComPtr<IKestrixPlugin> plugin;
            if (FAILED(CallGetPlugin(*directory.get(), id, plugin))) continue;
            Bstr name, description, options;
            HRESULT result;
            plugin->GetPluginInfo(name.put(), description.put(), options.put(), &result);
        }
    };
    // Opening: the form made, and its list filled as its first tick does,
    // each timed (showing it costs the same with any number of plug-ins).
    // The windows of the last one are gone from the display first, as they
    // are long gone when a user opens the next: an opening right after the
    // last one's end waits for that and costs five times as much.
    auto open = [] {
        Pump(40);
        const double start = Now();
        TAfterScreenShotWindow wizard;
        const double made = Now();
        wizard.LoadPluginList();
        const double end = Now();
        return std::pair{end - made, end - start};
    };
    // A run: the best of 21 openings of each, one of each turn about, so
    // that a slower spell of the machine meets both. What the plug-ins add
    // is the difference of the two lists' filling: small beside the making
    // of the form, whose windows a busy machine stretches by more than that.
    Runs added, whole;
    for (int round = 0; round < 9; ++round) {
        ::RegOverridePredefKey(HKEY_CURRENT_USER, many);
        const double calls = Best(9, bare);
        double full = 1e9, empty = 1e9, opening = 1e9;
        for (int i = 0; i < 21; ++i) {
            ::RegOverridePredefKey(HKEY_CURRENT_USER, many);
            const auto [list, all] = open();
            full = std::min(full, list);
            opening = std::min(opening, all);
            ::RegOverridePredefKey(HKEY_CURRENT_USER, none);
            empty = std::min(empty, open().first);
        }
        added.Add(full - empty, calls);
        whole.Add(opening, calls);
    }
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    for (DWORD c : cookies) ::CoRevokeClassObject(c);
    std::printf("open: wizard with 100 plug-ins %.2f ms, what they add %.2f ms, bare GetPlugin + "
                "GetPluginInfo for the 100 %.2f ms (medians)\n",
                whole.Cost() * 1e3, added.Cost() * 1e3, added.Base() * 1e3);
    Report("100-plugins/bare-calls", "ratio of what the plug-ins add to the bare calls",
           added.Ratio(), 1.2);
    Report("", "ratio of the whole opening to the bare calls", whole.Ratio());
}

}  // namespace

int main() {
    bench::StartAsProgram();
    // The user's own plug-ins and settings stay out of it.
    const std::string scratch = "Software\\KestrixBench\\wizard-" + std::to_string(::GetCurrentProcessId());
    // A run that ended early leaves its keys, and a process identifier comes round again.
    ::RegDeleteTreeA(HKEY_CURRENT_USER, scratch.c_str());
    RegKey many, none;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, (scratch + "\\many").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, many.put(), nullptr);
    ::RegCreateKeyExA(HKEY_CURRENT_USER, (scratch + "\\none").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                      nullptr, none.put(), nullptr);
    StreamRatio();
    OpenRatio(many.get(), none.get());
    KestrixObjectFactory().RevokeClassObject();
    many.reset();
    none.reset();
    ::RegDeleteTreeA(HKEY_CURRENT_USER, scratch.c_str());
    ::OleUninitialize();
    return 0;
}
