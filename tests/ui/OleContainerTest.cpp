// The OLE container hosting the test plug-in's options objects on a real
// form: shown in place over the container, replaced, refused, walked through
// with Tab and the mouse, asked by the object through its site, and closed
// with the form.
#include "plugins/KestrixObjectUnit.h"
#include "plugins/kestrix_TLB.h"
#include "tests/support/Input.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestPlugin/TestPluginControl.h"
#include "tests/support/TestSupport.h"
#include "ui/Exception.h"
#include "ui/Forms.h"
#include "ui/OleCtnrs.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>
#include <memory>
#include <string>

using namespace ui;
using namespace testing_support;

namespace {

LONG crashes = 0;
LONG CALLBACK CountCrash(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++crashes;
    return EXCEPTION_CONTINUE_SEARCH;
}

// What is waiting handled first, then messages until cond() holds.
bool Settle(const std::function<bool()>& cond) {
    Application.ProcessMessages();
    return PumpUntil(cond);
}

// A line of the plug-in's log about an options object of this letter; the
// objects are numbered across the process.
bool LogHas(char letter, const std::string& what) {
    auto lines = test_plugin::LogLines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.rfind(std::string(1, letter) + " options ", 0) == 0 && l.find(what) != l.npos;
    });
}

const FormLayout kHostForm = {"TOleContainerTestForm", "Host", 60, 60, 380, 240, bsDialog};
const TControlLayout kHost[] = {
    {ckEdit,         "Before",    nullptr, 8, 8,   100, 21, "", 0},
    {ckOleContainer, "Container", nullptr, 8, 36,  300, 150, "", 1, loNoBorder},
    {ckEdit,         "After",     nullptr, 8, 200, 100, 21, "", 2},
};

struct HostForm : TForm {
    HostForm() : TForm(kHostForm, kHost) {}
    TEdit& Before = Ctl<TEdit>("Before");
    TOleContainer& Container = Ctl<TOleContainer>("Container");
    TEdit& After = Ctl<TEdit>("After");

    HWND Options() const {
        return ::FindWindowExA(Container.Handle(), nullptr, test_plugin::kOptionsWindowClass,
                               nullptr);
    }
    HWND OptionsEdit() const { return ::FindWindowExA(Options(), nullptr, "Edit", nullptr); }
    void ShowOptions(const wchar_t* progId) {
        Container.CreateObject(progId);
        Container.DoVerb(OLEIVERB_SHOW);
    }
};

class OleContainerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<SavedKey>(kPluginsKey);
        switches_ = std::make_unique<SavedKey>(test_plugin::kSwitchesKey);
        ASSERT_EQ(0, test_plugin::RunRegsvr32(true));
    }
    static void TearDownTestSuite() {
        test_plugin::RunRegsvr32(false);
        switches_.reset();
        plugins_.reset();
    }
    void SetUp() override {
        test_plugin::ClearLog();
        RecordedErrors().clear();
        crashes = 0;
        handler_ = ::AddVectoredExceptionHandler(1, CountCrash);
        form_ = std::make_unique<HostForm>();
        form_->Show();
        ASSERT_TRUE(Settle([&] {
            return ::GetForegroundWindow() == form_->Handle() && form_->Before.Focused();
        }));
    }
    void TearDown() override {
        form_.reset();
        ::RemoveVectoredExceptionHandler(handler_);
        EXPECT_EQ(0, crashes);
        EXPECT_TRUE(RecordedErrors().empty()) << RecordedErrors().front();
    }

    static std::unique_ptr<SavedKey> plugins_, switches_;
    std::unique_ptr<HostForm> form_;
    void* handler_ = nullptr;
};
std::unique_ptr<SavedKey> OleContainerTest::plugins_, OleContainerTest::switches_;

TEST_F(OleContainerTest, ShowsTheObjectInPlaceStretchedToTheContainer) {
    HostForm& form = *form_;
    form.ShowOptions(L"KestrixTest.OptionsA");
    ASSERT_TRUE(form.Container.HasObject());
    HWND options = form.Options();
    ASSERT_TRUE(options);
    RECT rc;
    ::GetClientRect(options, &rc);
    EXPECT_EQ(form.Container.ClientWidth(), rc.right);
    EXPECT_EQ(form.Container.ClientHeight(), rc.bottom);
    POINT inside{form.Container.ClientWidth() / 2, form.Container.ClientHeight() - 10};
    ::ClientToScreen(form.Container.Handle(), &inside);
    EXPECT_TRUE(Settle([&] {
        return ScreenPixel(inside.x, inside.y) == test_plugin::OptionsColor('A');
    }));

    // It follows the container's size.
    form.Container.SetBounds(8, 36, 340, 160);
    ::GetClientRect(options, &rc);
    EXPECT_EQ(340, rc.right);
    EXPECT_EQ(160, rc.bottom);

    ComPtr<IKestrixPluginOptions> automation;
    EXPECT_EQ(S_OK, form.Container.OleObject().As(automation));
}

TEST_F(OleContainerTest, ANewObjectReplacesTheOldAndAFailureLeavesNone) {
    HostForm& form = *form_;
    form.ShowOptions(L"KestrixTest.OptionsA");
    form.ShowOptions(L"KestrixTest.OptionsB");
    EXPECT_TRUE(LogHas('A', "Close"));
    EXPECT_TRUE(LogHas('A', "destroyed"));
    EXPECT_FALSE(LogHas('B', "destroyed"));
    EXPECT_TRUE(LogHas('B', "InitNew"));

    try {
        form.Container.CreateObject(L"KestrixTest.NoSuchOptions");
        ADD_FAILURE() << "no error";
    } catch (const EOleSysError& e) {
        EXPECT_NE(std::string::npos, e.Message().find("\"KestrixTest.NoSuchOptions\""))
            << e.Message();
        EXPECT_TRUE(FAILED(e.ErrorCode));
    }
    EXPECT_FALSE(form.Container.HasObject());
    EXPECT_TRUE(LogHas('B', "destroyed"));
    EXPECT_EQ(nullptr, form.Options());
    EXPECT_THROW(form.Container.OleObject(), EOleError);
    EXPECT_THROW(form.Container.DoVerb(OLEIVERB_SHOW), EOleError);
}

TEST_F(OleContainerTest, AnIconicObjectOpensInAWindowOfItsOwn) {
    form_->Container.CreateObject(L"KestrixTest.OptionsC", true);
    form_->Container.DoVerb(OLEIVERB_SHOW);
    EXPECT_EQ(nullptr, form_->Options());
    HWND own = ::FindWindowA(test_plugin::kOwnWindowClass, "Test plug-in C options");
    EXPECT_TRUE(::IsWindowVisible(own));
    form_->Container.DestroyObject();
    EXPECT_FALSE(::IsWindow(own));
}

TEST_F(OleContainerTest, TabClicksAndKeysReachTheObject) {
    HostForm& form = *form_;
    test_plugin::SetSwitchText('A', "AcceleratorKeys", "Q");
    struct Clear {
        ~Clear() { test_plugin::ClearSwitches(); }
    } clear;
    form.ShowOptions(L"KestrixTest.OptionsA");
    form.Before.SetFocus();
    ASSERT_TRUE(Settle([&] { return form.Before.Focused(); }));
    std::string events;
    form.Container.OnEnter = [&](TControl*) { events += '+'; };
    form.Container.OnExit = [&](TControl*) { events += '-'; };
    HWND inner = form.OptionsEdit();
    ASSERT_TRUE(inner);

    PressKeys({VK_TAB});
    EXPECT_TRUE(Settle([&] { return ::GetFocus() == inner; }));
    PressKeys({VK_TAB});
    EXPECT_TRUE(Settle([&] { return form.After.Focused(); }));
    PressKeys({VK_SHIFT, VK_TAB});
    EXPECT_TRUE(Settle([&] { return ::GetFocus() == inner; }));
    PressKeys({VK_SHIFT, VK_TAB});
    EXPECT_TRUE(Settle([&] { return form.Before.Focused(); }));
    ClickWindow(inner);
    EXPECT_TRUE(Settle([&] { return ::GetFocus() == inner; }));
    ClickWindow(form.After.Handle());
    EXPECT_TRUE(Settle([&] { return form.After.Focused(); }));
    EXPECT_EQ("+-+-+-", events);

    // The form coming back to the container hands the focus on inside.
    form.Container.SetFocus();
    EXPECT_TRUE(Settle([&] { return ::GetFocus() == inner; }));
    EXPECT_EQ("+-+-+-+", events);

    // The object sees its keys first and takes the ones it wants.
    ::SetWindowTextA(inner, "");
    PressKeys({'Q'});
    PressKeys({'X'});
    char text[16] = {};
    EXPECT_TRUE(Settle([&] { return ::GetWindowTextA(inner, text, sizeof text) > 0; }));
    EXPECT_STREQ("x", text);
    EXPECT_TRUE(LogHas('A', "TranslateAccelerator 81"));
}

TEST_F(OleContainerTest, FocusThatPassesNoWindowOfOursRunsTheEventsInAnyLoop) {
    HostForm& form = *form_;
    form.ShowOptions(L"KestrixTest.OptionsA");
    HWND inner = form.OptionsEdit();
    ASSERT_TRUE(inner);
    ASSERT_TRUE(Settle([&] { return form.Before.Focused(); }));
    std::string events;
    form.Container.OnEnter = [&](TControl*) { events += '+'; };
    form.Container.OnExit = [&](TControl*) { events += '-'; };
    // A loop of the system's, as a message box or a menu runs: it only
    // dispatches.
    auto plainLoop = [](const std::function<bool()>& cond) {
        const DWORD start = ::GetTickCount();
        while (!cond() && ::GetTickCount() - start < 5000) {
            MSG msg;
            while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&msg);
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
        return cond();
    };
    ::SetFocus(nullptr);
    ::SetFocus(inner);
    EXPECT_TRUE(plainLoop([&] { return events == "+"; })) << events;
    ::SetFocus(form.After.Handle());
    EXPECT_TRUE(plainLoop([&] { return events == "+-"; })) << events;
}

TEST_F(OleContainerTest, TheSiteAnswersTheObjectAndOutlivesIt) {
    HostForm& form = *form_;
    form.ShowOptions(L"KestrixTest.OptionsC");
    ComPtr<IOleObject> object;
    ASSERT_EQ(S_OK, form.Container.OleObject().As(object));
    ComPtr<IOleClientSite> site;
    ASSERT_EQ(S_OK, object->GetClientSite(site.put()));
    ComPtr<IOleInPlaceSiteEx> inPlace;
    ComPtr<IOleControlSite> control;
    ComPtr<IDispatch> ambient;
    ASSERT_EQ(S_OK, site.As(inPlace));
    EXPECT_EQ(S_OK, site.As(control));
    ASSERT_EQ(S_OK, site.As(ambient));

    auto get = [&](DISPID id, VARIANT& v) {
        DISPPARAMS none = {};
        ::VariantInit(&v);
        return ambient->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
    };
    VARIANT v;
    EXPECT_EQ(S_OK, get(DISPID_AMBIENT_USERMODE, v));
    EXPECT_EQ(VARIANT_TRUE, V_BOOL(&v));
    EXPECT_EQ(S_OK, get(DISPID_AMBIENT_FONT, v));
    EXPECT_EQ(VT_DISPATCH, V_VT(&v));
    ::VariantClear(&v);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, get(DISPID_AMBIENT_AUTOCLIP, v));

    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> doc;
    RECT pos, clip;
    OLEINPLACEFRAMEINFO info = {};
    info.cb = sizeof info;
    ASSERT_EQ(S_OK, inPlace->GetWindowContext(frame.put(), doc.put(), &pos, &clip, &info));
    EXPECT_EQ(form.Handle(), info.hwndFrame);
    EXPECT_EQ(form.Container.ClientWidth(), pos.right - pos.left);
    OLEMENUGROUPWIDTHS widths = {{1, 1, 1, 1, 1, 1}};
    EXPECT_EQ(S_OK, frame->InsertMenus(nullptr, &widths));
    EXPECT_EQ(0, widths.width[0]);
    BORDERWIDTHS tools = {0, 24, 0, 0};
    EXPECT_EQ(INPLACE_E_NOTOOLSPACE, frame->RequestBorderSpace(&tools));
    EXPECT_EQ(INPLACE_E_NOTOOLSPACE, frame->SetBorderSpace(&tools));
    EXPECT_EQ(S_OK, frame->SetBorderSpace(nullptr));

    // Held past the object's end, they answer without a container.
    form.Container.DestroyObject();
    object.reset();
    EXPECT_TRUE(LogHas('C', "destroyed"));
    HWND wnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&wnd));
    EXPECT_EQ(nullptr, wnd);
    EXPECT_EQ(S_FALSE, inPlace->CanInPlaceActivate());
    EXPECT_EQ(S_OK, get(DISPID_AMBIENT_USERMODE, v));
    EXPECT_EQ(E_FAIL, frame->GetWindow(&wnd));
}

TEST_F(OleContainerTest, TheFormsEndClosesAndReleasesTheObject) {
    form_->ShowOptions(L"KestrixTest.OptionsB");
    HWND options = form_->Options();
    ::SetFocus(form_->OptionsEdit());
    form_.reset();
    EXPECT_TRUE(LogHas('B', "Close"));
    EXPECT_TRUE(LogHas('B', "destroyed"));
    EXPECT_FALSE(::IsWindow(options));
}

}  // namespace
