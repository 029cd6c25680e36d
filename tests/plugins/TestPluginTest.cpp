// The test plug-in DLL as the program's tests use it: installed by
// regsvr32, listed by the directory, its switches and its call log, and its
// options object embedded as an OLE control.
#include "automation/ComObj.h"
#include "plugins/KestrixCommUnit.h"
#include "plugins/KestrixObjectUnit.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>

using automation::AnsiString;
using automation::WideString;
using testing_support::PumpUntil;
using ui::Bstr;
using ui::ComPtr;

namespace {

std::string ClassesValue(const std::string& path, const char* name = nullptr) {
    char value[1024] = {};
    LONG size = sizeof value;
    DWORD dsize = sizeof value;
    if (name)
        return ::RegGetValueA(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr,
                              value, &dsize) == ERROR_SUCCESS
                   ? value
                   : "<missing>";
    return ::RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), value, &size) == ERROR_SUCCESS
               ? value
               : "<missing>";
}

bool UserKeyExists(const std::string& path) {
    ui::RegKey key;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.put()) ==
           ERROR_SUCCESS;
}

std::string PluginSubkey(char letter) {
    return std::string(kPluginsKey) + "\\" + test_plugin::PluginId(letter);
}

bool LogHas(const std::string& text) {
    auto lines = test_plugin::LogLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

ComPtr<IKestrixPlugin> NewPlugin(const CLSID& clsid) {
    ComPtr<IKestrixPlugin> plugin;
    EXPECT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKestrixPlugin,
                                       plugin.put_void()));
    return plugin;
}

struct Info {
    HRESULT status = E_UNEXPECTED, result = E_UNEXPECTED;
    std::string name, description, options;
};
Info PluginInfo(IKestrixPlugin* plugin) {
    Info info;
    Bstr name, description, options;
    info.status = plugin->GetPluginInfo(name.put(), description.put(), options.put(), &info.result);
    info.name = AnsiString(name.get());
    info.description = AnsiString(description.get());
    info.options = AnsiString(options.get());
    return info;
}

ComPtr<IStream> StreamOf(const std::string& bytes) {
    return testing_support::MemoryStream(bytes.data(), bytes.size());
}

class TestPluginTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<testing_support::SavedKey>(kPluginsKey);
        switches_ = std::make_unique<testing_support::SavedKey>(test_plugin::kSwitchesKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
    }
    static void TearDownTestSuite() {
        test_plugin::RunRegsvr32(false);
        switches_.reset();
        plugins_.reset();
    }
    void SetUp() override {
        test_plugin::ClearSwitches();
        test_plugin::ClearLog();
    }
    void TearDown() override {
        test_plugin::ClearSwitches();
        ::CoFreeUnusedLibrariesEx(0, 0);
    }

    static std::unique_ptr<testing_support::SavedKey> plugins_, switches_;
};
std::unique_ptr<testing_support::SavedKey> TestPluginTest::plugins_, TestPluginTest::switches_;

TEST_F(TestPluginTest, Regsvr32InstallsClassesAndPluginSubkeys) {
    std::string dll = test_plugin::DllPath();
    for (char letter : {'A', 'B', 'C'}) {
        SCOPED_TRACE(letter);
        std::string plugin = std::string("CLSID\\") + test_plugin::PluginId(letter);
        std::string options = std::string("CLSID\\") + test_plugin::OptionsId(letter);
        EXPECT_EQ(dll, ClassesValue(plugin + "\\InprocServer32"));
        EXPECT_EQ("Apartment", ClassesValue(plugin + "\\InprocServer32", "ThreadingModel"));
        EXPECT_EQ(std::string("KestrixTest.Plugin") + letter, ClassesValue(plugin + "\\ProgID"));
        EXPECT_EQ(dll, ClassesValue(options + "\\InprocServer32"));
        EXPECT_EQ(test_plugin::OptionsId(letter),
                  ClassesValue(std::string("KestrixTest.Options") + letter + "\\CLSID"));
        EXPECT_NE("<missing>", ClassesValue(options + "\\Control"));
        EXPECT_TRUE(UserKeyExists(PluginSubkey(letter)));
    }
    EXPECT_EQ(dll, ClassesValue(std::string("CLSID\\") + test_plugin::kNotAPluginId +
                                "\\InprocServer32"));
    EXPECT_FALSE(UserKeyExists(std::string(kPluginsKey) + "\\" + test_plugin::kNotAPluginId));
    // The identifiers of the header agree with the registry's names.
    EXPECT_EQ(test_plugin::PluginId('A'), automation::GuidToString(test_plugin::CLSID_TestPluginA));
    EXPECT_EQ(test_plugin::OptionsId('C'),
              automation::GuidToString(test_plugin::CLSID_TestOptionsC));
    EXPECT_EQ(test_plugin::kNotAPluginId,
              automation::GuidToString(test_plugin::CLSID_TestNotAPlugin));

    ASSERT_EQ(0, test_plugin::RunRegsvr32(false));
    EXPECT_EQ("<missing>", ClassesValue(std::string("CLSID\\") + test_plugin::PluginId('A')));
    EXPECT_EQ("<missing>", ClassesValue("KestrixTest.OptionsB"));
    EXPECT_FALSE(UserKeyExists(PluginSubkey('C')));
    ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
}

TEST_F(TestPluginTest, TheDirectoryListsAndCreatesTheInstalledPlugins) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, PluginSubkey('B').c_str());
    struct Reinstall {
        ~Reinstall() { test_plugin::RunRegsvr32(true); }
    } reinstall;
    ComPtr<IKestrixObject> directory;
    ASSERT_EQ(S_OK, KestrixObjectFactory().CreateInstance(nullptr, IID_IKestrixObject,
                                                          directory.put_void()));
    Bstr list;
    ASSERT_EQ(S_OK, directory->GetPluginList(list.put()));
    std::vector<std::string> ids = SplitPluginList(list.get());
    std::vector<std::string> expected = {test_plugin::PluginId('A'), test_plugin::PluginId('C')};
    std::sort(ids.begin(), ids.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ids);

    for (const std::string& id : ids) {
        ComPtr<IKestrixPlugin> plugin;
        ASSERT_EQ(S_OK, CallGetPlugin(*directory.get(), id, plugin));
        Info info = PluginInfo(plugin.get());
        EXPECT_EQ(S_OK, info.status);
        CLSID options;
        EXPECT_EQ(S_OK, ::CLSIDFromString(WideString(info.options).c_str(), &options)) << id;
    }
}

TEST_F(TestPluginTest, AnswersThroughItsVtable) {
    ComPtr<IKestrixPlugin> plugin = NewPlugin(test_plugin::CLSID_TestPluginA);
    ASSERT_TRUE(plugin);
    Info info = PluginInfo(plugin.get());
    EXPECT_EQ(S_OK, info.status);
    EXPECT_EQ(S_OK, info.result);
    EXPECT_EQ("Test plug-in A", info.name);
    EXPECT_EQ("Kestrix test plug-in A", info.description);
    EXPECT_EQ(test_plugin::OptionsId('A'), info.options);

    std::string bytes("BM\0\x01\x02 picture", 14);
    ComPtr<IStream> stream = StreamOf(bytes);
    HRESULT result = E_UNEXPECTED;
    HWND wnd = ::GetDesktopWindow();
    EXPECT_EQ(S_OK, plugin->Execute(stream.get(), static_cast<LONG>(reinterpret_cast<LONG_PTR>(wnd)),
                                    &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(bytes, test_plugin::ReadWholeFile(test_plugin::ExecuteFile('A')));
    EXPECT_TRUE(LogHas("A plugin ")) << "instances are numbered";
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX",
                  static_cast<unsigned long>(reinterpret_cast<LONG_PTR>(wnd)));
    EXPECT_TRUE(LogHas(std::string("Execute size=14 wnd=") + hex + " visible="));
    EXPECT_TRUE(LogHas("GetPluginInfo"));
}

TEST_F(TestPluginTest, SwitchesMakeEachClassFailOnItsOwn) {
    test_plugin::SetSwitch('B', "GetPluginInfoStatus", static_cast<DWORD>(E_ACCESSDENIED));
    test_plugin::SetSwitchText('B', "ErrorText", "B refuses");
    test_plugin::SetSwitch('C', "GetPluginInfoResult", static_cast<DWORD>(E_ABORT));
    test_plugin::SetSwitchText('C', "OptionsObjectName", "not a class identifier");
    test_plugin::SetSwitchText('C', "Name", "Renamed C");
    test_plugin::SetSwitch('C', "ExecuteResult", static_cast<DWORD>(E_FAIL));

    Info a = PluginInfo(NewPlugin(test_plugin::CLSID_TestPluginA).get());
    EXPECT_EQ(S_OK, a.status);
    EXPECT_EQ(S_OK, a.result);

    ComPtr<IKestrixPlugin> b = NewPlugin(test_plugin::CLSID_TestPluginB);
    Info bInfo = PluginInfo(b.get());
    EXPECT_EQ(E_ACCESSDENIED, bInfo.status);
    try {
        automation::OleCheckCall(bInfo.status, b.get(), IID_IKestrixPlugin);
        ADD_FAILURE() << "no error";
    } catch (const ui::EOleSysError& e) {
        EXPECT_EQ("B refuses", e.Message());
        EXPECT_EQ(E_ACCESSDENIED, e.ErrorCode);
    }

    ComPtr<IKestrixPlugin> c = NewPlugin(test_plugin::CLSID_TestPluginC);
    Info cInfo = PluginInfo(c.get());
    EXPECT_EQ(S_OK, cInfo.status);
    EXPECT_EQ(E_ABORT, cInfo.result);
    EXPECT_EQ("not a class identifier", cInfo.options);
    EXPECT_EQ("Renamed C", cInfo.name);
    HRESULT result = S_OK;
    EXPECT_EQ(S_OK, c->Execute(StreamOf("x").get(), 0, &result));
    EXPECT_EQ(E_FAIL, result);
    // Failing statuses come without a Result.
    test_plugin::SetSwitch('C', "ExecuteStatus", static_cast<DWORD>(E_OUTOFMEMORY));
    EXPECT_EQ(E_OUTOFMEMORY, c->Execute(StreamOf("x").get(), 0, &result));
    EXPECT_EQ(S_OK, result);
}

TEST_F(TestPluginTest, TheNotAPluginClassAnswersOnlyIUnknown) {
    ComPtr<IUnknown> object;
    ASSERT_EQ(S_OK, ::CoCreateInstance(test_plugin::CLSID_TestNotAPlugin, nullptr,
                                       CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void()));
    ComPtr<IKestrixPlugin> plugin;
    EXPECT_EQ(E_NOINTERFACE, object.As(plugin));
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(E_NOINTERFACE, object.As(dispatch));
}

// ---- The options object in a container -------------------------------------

// Just enough of a container for in-place activation: a host window, a
// client site with IOleInPlaceSite, and a separate frame.
class Frame : public IOleInPlaceFrame {
public:
    explicit Frame(HWND host) : host_(host) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleWindow || iid == IID_IOleInPlaceUIWindow ||
            iid == IID_IOleInPlaceFrame) {
            *out = static_cast<IOleInPlaceFrame*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) override {
        *wnd = host_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* object,
                                              LPCOLESTR) override {
        active = ComPtr<IOleInPlaceActiveObject>::Copy(object);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    ComPtr<IOleInPlaceActiveObject> active;
    int refs = 0;

private:
    HWND host_;
};

class Site : public IOleClientSite, public IOleInPlaceSite {
public:
    Site(HWND host, Frame& frame) : host_(host), frame_(frame) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* wnd) override {
        *wnd = host_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        inPlace = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame,
                                               IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO) override {
        frame_.AddRef();
        *frame = &frame_;
        *doc = nullptr;
        *pos = {10, 20, 250, 140};
        *clip = *pos;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        inPlace = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    bool inPlace = false;
    int refs = 0;

private:
    HWND host_;
    Frame& frame_;
};

class TestPluginOptionsTest : public TestPluginTest {
protected:
    void SetUp() override {
        TestPluginTest::SetUp();
        host_ = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "host", WS_POPUP | WS_VISIBLE, 40, 40,
                                  400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_TRUE(host_);
        testing_support::Pump(50);
    }
    void TearDown() override {
        ::DestroyWindow(host_);
        TestPluginTest::TearDown();
    }
    HWND OptionsWindow() const {
        return ::FindWindowExA(host_, nullptr, test_plugin::kOptionsWindowClass, nullptr);
    }
    HWND host_ = nullptr;
};

TEST_F(TestPluginOptionsTest, ShowsInPlaceAndHandsItsSettingsToThePlugin) {
    Frame frame(host_);
    Site site(host_, frame);
    {
        ComPtr<IOleObject> options;
        ASSERT_EQ(S_OK, ::CoCreateInstance(test_plugin::CLSID_TestOptionsA, nullptr,
                                           CLSCTX_INPROC_SERVER, IID_IOleObject,
                                           options.put_void()));
        DWORD misc = 0;
        EXPECT_EQ(S_OK, options->GetMiscStatus(DVASPECT_CONTENT, &misc));
        EXPECT_TRUE(misc & OLEMISC_INSIDEOUT);
        ComPtr<IPersistStorage> persist;
        ComPtr<IOleInPlaceObject> inPlaceObject;
        ComPtr<IOleInPlaceActiveObject> activeObject;
        EXPECT_EQ(S_OK, options.As(persist));
        EXPECT_EQ(S_OK, options.As(inPlaceObject));
        EXPECT_EQ(S_OK, options.As(activeObject));

        ASSERT_EQ(S_OK, options->SetClientSite(&site));
        RECT rect = {10, 20, 250, 140};
        ASSERT_EQ(S_OK, options->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, host_, &rect));
        HWND wnd = OptionsWindow();
        ASSERT_TRUE(wnd);
        EXPECT_TRUE(::IsWindowVisible(wnd));
        EXPECT_TRUE(site.inPlace);
        EXPECT_TRUE(frame.active) << "UI-active";
        HWND reported = nullptr;
        EXPECT_EQ(S_OK, inPlaceObject->GetWindow(&reported));
        EXPECT_EQ(wnd, reported);
        RECT bounds;
        ::GetWindowRect(wnd, &bounds);
        EXPECT_EQ(40 + 10, bounds.left);
        EXPECT_EQ(40 + 20, bounds.top);
        EXPECT_EQ(240, bounds.right - bounds.left);
        // Its own colour on the screen, below the text and the edit field.
        EXPECT_TRUE(PumpUntil([&] {
            return testing_support::ScreenPixel(40 + 10 + 120, 40 + 20 + 100) ==
                   test_plugin::OptionsColor('A');
        }));

        // The automation side: SetPlugin, then SaveSettings passes the
        // edit field's text on, and Execute shows it.
        ComPtr<IKestrixPluginOptions> automation;
        ASSERT_EQ(S_OK, options.As(automation));
        ComPtr<IKestrixPlugin> plugin = NewPlugin(test_plugin::CLSID_TestPluginA);
        EXPECT_EQ(S_OK, automation->SetPlugin(plugin.get()));
        ::SetDlgItemTextA(wnd, 100, "chosen setting");
        HRESULT result = E_UNEXPECTED;
        EXPECT_EQ(S_OK, automation->SaveSettings(&result));
        EXPECT_EQ(S_OK, result);
        EXPECT_EQ(S_OK, automation->Notify(nmGetFocus));
        EXPECT_EQ(S_OK, plugin->Execute(StreamOf("x").get(), 0, &result));
        EXPECT_TRUE(LogHas("options=chosen setting"));
        EXPECT_TRUE(LogHas("A options 1 SetPlugin plugin=") || LogHas("SetPlugin plugin="));
        EXPECT_FALSE(LogHas("SetPlugin plugin=0")) << "the instance is recognised";
        EXPECT_TRUE(LogHas("Notify 1"));

        EXPECT_EQ(S_OK, options->Close(OLECLOSE_NOSAVE));
        EXPECT_FALSE(::IsWindow(wnd));
        EXPECT_FALSE(site.inPlace);
        EXPECT_FALSE(frame.active);
        options->SetClientSite(nullptr);
    }
    EXPECT_EQ(0, site.refs);
    EXPECT_EQ(0, frame.refs);
    EXPECT_EQ(S_OK, test_plugin::CanUnloadNow());
}

TEST_F(TestPluginOptionsTest, FailingSaveSettingsAndSetPlugin) {
    test_plugin::SetSwitch('B', "SaveSettingsResult", static_cast<DWORD>(E_FAIL));
    test_plugin::SetSwitch('C', "SaveSettingsStatus", static_cast<DWORD>(E_UNEXPECTED));
    test_plugin::SetSwitch('C', "SetPluginStatus", static_cast<DWORD>(E_INVALIDARG));
    ComPtr<IKestrixPluginOptions> b, c;
    ASSERT_EQ(S_OK, ::CoCreateInstance(test_plugin::CLSID_TestOptionsB, nullptr,
                                       CLSCTX_INPROC_SERVER, IID_IKestrixPluginOptions,
                                       b.put_void()));
    ASSERT_EQ(S_OK, ::CoCreateInstance(test_plugin::CLSID_TestOptionsC, nullptr,
                                       CLSCTX_INPROC_SERVER, IID_IKestrixPluginOptions,
                                       c.put_void()));
    HRESULT result = S_OK;
    EXPECT_EQ(S_OK, b->SaveSettings(&result));
    EXPECT_EQ(E_FAIL, result);
    EXPECT_EQ(E_UNEXPECTED, c->SaveSettings(&result));
    EXPECT_EQ(E_INVALIDARG, c->SetPlugin(nullptr));
    EXPECT_THROW(automation::OleCheckCall(E_INVALIDARG, c.get(), IID_IKestrixPluginOptions),
                 ui::EOleSysError);
}

TEST_F(TestPluginOptionsTest, WithoutAnInPlaceSiteItOpensAWindowOfItsOwn) {
    Frame frame(host_);
    struct PlainSite : IOleClientSite {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            *out = nullptr;
            if (iid != IID_IUnknown && iid != IID_IOleClientSite) return E_NOINTERFACE;
            *out = this;
            AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
        ULONG STDMETHODCALLTYPE Release() override { return --refs; }
        HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
            *m = nullptr;
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
            *c = nullptr;
            return E_NOINTERFACE;
        }
        HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL show) override {
            shown = show != FALSE;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
        int refs = 0;
        bool shown = false;
    } site;
    {
        ComPtr<IOleObject> options;
        ASSERT_EQ(S_OK, ::CoCreateInstance(test_plugin::CLSID_TestOptionsC, nullptr,
                                           CLSCTX_INPROC_SERVER, IID_IOleObject,
                                           options.put_void()));
        ASSERT_EQ(S_OK, options->SetClientSite(&site));
        ASSERT_EQ(S_OK, options->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr));
        HWND own = ::FindWindowA(test_plugin::kOwnWindowClass, "Test plug-in C options");
        ASSERT_TRUE(own);
        EXPECT_TRUE(::IsWindowVisible(own));
        EXPECT_TRUE(site.shown);
        EXPECT_EQ(S_OK, options->Close(OLECLOSE_NOSAVE));
        EXPECT_FALSE(::IsWindow(own));
        EXPECT_FALSE(site.shown);
        options->SetClientSite(nullptr);
    }
    EXPECT_EQ(0, site.refs);
}

}  // namespace
