// The Open-in-editor plug-in with and without a program for PNG pictures:
// the association is the machine's, set up here for the test's length.
#include "addons/OpenInEditor/OpenInEditorOptions.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using addon_tests::ScratchFolder;
using addon_tests::ShownOptions;
using ui::ComPtr;
using namespace open_in_editor;

namespace {

const char kDll[] = "KestrixOpenInEditor.dll";
// Where the plug-in puts its pictures.
std::wstring PictureFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + L"Kestrix";
}

std::vector<BYTE> Picture() {
    return addon_tests::BitmapFile(20, 10, 24, [](int x, int y) { return DWORD(x * 12 << 8 | y); });
}

class OpenInEditorTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<testing_support::SavedKey>(addons::kPluginsKey);
        ASSERT_EQ(0, addon_tests::Regsvr32(kDll, true));
    }
    static void TearDownTestSuite() {
        addon_tests::Regsvr32(kDll, false);
        plugins_.reset();
    }
    static ComPtr<IKestrixPlugin> NewPlugin() {
        ComPtr<IKestrixPlugin> plugin;
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_OpenInEditor, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IKestrixPlugin, plugin.put_void()));
        return plugin;
    }
    static std::unique_ptr<testing_support::SavedKey> plugins_;
};
std::unique_ptr<testing_support::SavedKey> OpenInEditorTest::plugins_;

TEST_F(OpenInEditorTest, WithoutAProgramThePageAndExecuteSaySo) {
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    ShownOptions page(CLSID_OpenInEditorOptions, plugin.get());
    EXPECT_EQ(kNoEditor, page.Text(addons::kMessageId));
    HRESULT result = S_OK;
    EXPECT_EQ(S_OK, page.SaveSettings(result));
    EXPECT_TRUE(FAILED(result));

    size_t before = ScratchFolder().Files(PictureFolder()).size();
    EXPECT_TRUE(FAILED(addon_tests::Execute(plugin.get(), Picture(), result)));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, ::GetErrorInfo(0, info.put()));
    ui::Bstr text;
    info->GetDescription(text.put());
    EXPECT_STREQ(kNoEditor, text.get());
    EXPECT_EQ(before, ScratchFolder().Files(PictureFolder()).size()) << "no picture left behind";
}

TEST_F(OpenInEditorTest, EachRunRemovesItsOwnPicturesOlderThanADay) {
    const std::wstring folder = PictureFolder();
    ::CreateDirectoryW(folder.c_str(), nullptr);
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 25ULL * 60 * 60 * 10000000;
    const FILETIME old = {t.LowPart, t.HighPart};
    auto make = [&](const std::wstring& name, bool aged) {
        ui::FileHandle file(::CreateFileW((folder + L"\\" + name).c_str(), GENERIC_WRITE, 0,
                                          nullptr, CREATE_ALWAYS, 0, nullptr));
        if (aged) ::SetFileTime(file.get(), &old, &old, &old);
    };
    make(L"Screenshot 2000-01-01 10-00-00.png", true);
    make(L"Screenshot 2000-01-01 10-00-00 (2).png", true);
    make(L"~kestrix-0123456789AB.tmp", true);
    make(L"Screenshot 2099-01-01 10-00-00.png", false);
    make(L"someone else's.png", true);

    HRESULT result = S_OK;
    EXPECT_TRUE(FAILED(addon_tests::Execute(NewPlugin().get(), Picture(), result)));  // no editor
    std::vector<std::wstring> files = ScratchFolder().Files(folder);
    auto has = [&](const wchar_t* name) {
        return std::count(files.begin(), files.end(), name) == 1;
    };
    EXPECT_FALSE(has(L"Screenshot 2000-01-01 10-00-00.png"));
    EXPECT_FALSE(has(L"Screenshot 2000-01-01 10-00-00 (2).png"));
    EXPECT_FALSE(has(L"~kestrix-0123456789AB.tmp"));
    EXPECT_TRUE(has(L"Screenshot 2099-01-01 10-00-00.png"));
    EXPECT_TRUE(has(L"someone else's.png"));
    for (const wchar_t* name : {L"Screenshot 2099-01-01 10-00-00.png", L"someone else's.png"})
        ::DeleteFileW((folder + L"\\" + name).c_str());
}

TEST_F(OpenInEditorTest, OpensThePngWithTheEditVerbOrElseOpen) {
    for (const char* verb : {"edit", "open"}) {
        SCOPED_TRACE(verb);
        ScratchFolder scratch(L"kestrix-editor-\u5199\u771F");
        std::wstring copy = scratch.Path() + L"\\edited.png";
        addon_tests::PngAssociation association(verb, L"cmd.exe /c copy \"%1\" \"" + copy + L"\"");
        ComPtr<IKestrixPlugin> plugin = NewPlugin();
        {
            ShownOptions page(CLSID_OpenInEditorOptions, plugin.get());
            EXPECT_EQ(L"", page.Text(addons::kMessageId));
            EXPECT_NE(L"(no program)", page.Text(idProgram));
            HRESULT ready = E_FAIL;
            EXPECT_EQ(S_OK, page.SaveSettings(ready));
            EXPECT_EQ(S_OK, ready);
        }
        HRESULT result = E_UNEXPECTED;
        ASSERT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result));
        EXPECT_EQ(S_OK, result);
        EXPECT_TRUE(testing_support::PumpUntil(
            [&] { return addon_tests::ReadFile(copy).size() > 8; }, 20000));
        EXPECT_EQ("\x89PNG", addon_tests::ReadFile(copy).substr(0, 4));
    }
}

}  // namespace
