// The Save-to-file plug-in as the wizard drives it: installed by regsvr32,
// its page shown and checked by SaveSettings, pictures saved by Execute.
#include "addons/SaveToFile/SaveToFileOptions.h"
#include "addons/common/AddonSettings.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/support/RegistryScope.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

using addon_tests::ScratchFolder;
using addon_tests::ShownOptions;
using testing_support::SavedKey;
using ui::ComPtr;
using namespace save_to_file;

namespace {

const char kDll[] = "KestrixSaveToFile.dll";
const std::string kSettingsKey = "Software\\Orvane\\Kestrix\\Addons\\SaveToFile";
const std::string kPluginKey =
    std::string(addons::kPluginsKey) + "\\{EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}";

std::vector<BYTE> Picture() {
    return addon_tests::BitmapFile(40, 30, 24, [](int x, int y) { return DWORD(x * 6 << 16 | y * 8); });
}

void StoreSettings(const std::wstring& folder, const std::wstring& pattern, int format = 0) {
    addons::TAddonKey key(kAddonName, true);
    key.WriteString(L"Folder", folder);
    key.WriteString(L"FileName", pattern);
    key.WriteNumber(L"Format", static_cast<DWORD>(format));
}

bool Contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

class SaveToFileTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<SavedKey>(addons::kPluginsKey);
        settings_ = std::make_unique<SavedKey>(kSettingsKey);
        ASSERT_EQ(0, addon_tests::Regsvr32(kDll, true));
    }
    static void TearDownTestSuite() {
        addon_tests::Regsvr32(kDll, false);
        settings_.reset();
        plugins_.reset();
    }
    void SetUp() override { testing_support::DeleteUserKey(kSettingsKey); }
    void TearDown() override { ::CoFreeUnusedLibrariesEx(0, 0); }

    static ComPtr<IKestrixPlugin> NewPlugin() {
        ComPtr<IKestrixPlugin> plugin;
        EXPECT_EQ(S_OK, ::CoCreateInstance(CLSID_SaveToFile, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IKestrixPlugin, plugin.put_void()));
        return plugin;
    }

    static std::unique_ptr<SavedKey> plugins_, settings_;
};
std::unique_ptr<SavedKey> SaveToFileTest::plugins_, SaveToFileTest::settings_;

TEST_F(SaveToFileTest, RegistersAsAPluginWithAnEmbeddableOptionsPage) {
    EXPECT_TRUE(testing_support::KeyExists(HKEY_CURRENT_USER, kPluginKey));
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    ui::Bstr name, description, options;
    HRESULT result = E_UNEXPECTED;
    ASSERT_EQ(S_OK, plugin->GetPluginInfo(name.put(), description.put(), options.put(), &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_STREQ(L"Save to file", name.get());
    CLSID optionsId = {};
    ASSERT_EQ(S_OK, ::CLSIDFromString(options.get(), &optionsId));
    EXPECT_EQ(CLSID_SaveToFileOptions, optionsId);
    ui::CoTaskString progId;
    ASSERT_EQ(S_OK, ::ProgIDFromCLSID(optionsId, progId.put()));
    EXPECT_STREQ(L"Kestrix.SaveToFileOptions", progId.get());
    EXPECT_TRUE(testing_support::KeyExists(
        HKEY_CLASSES_ROOT, "CLSID\\{8ADBCEE3-9F03-409B-989D-BF3CA9CE9EC9}\\Control"));
    plugin.reset();

    ::CoFreeUnusedLibrariesEx(0, 0);
    ASSERT_EQ(0, addon_tests::Regsvr32(kDll, false));
    EXPECT_FALSE(testing_support::KeyExists(HKEY_CURRENT_USER, kPluginKey));
    EXPECT_FALSE(testing_support::KeyExists(HKEY_CLASSES_ROOT, "Kestrix.SaveToFileOptions"));
    EXPECT_FALSE(testing_support::KeyExists(
        HKEY_CLASSES_ROOT, "CLSID\\{EC4EEBF1-28C8-40FC-80A5-C1438CD9A240}"));
    ASSERT_EQ(0, addon_tests::Regsvr32(kDll, true));
}

TEST_F(SaveToFileTest, AFolderThatCannotBeCreatedIsExplainedOnThePageAndNothingIsWritten) {
    ScratchFolder scratch;
    std::wstring blocker = scratch.Path() + L"\\blocker";
    ui::FileHandle(::CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    ShownOptions page(CLSID_SaveToFileOptions, plugin.get());
    ASSERT_TRUE(page.Page());
    page.SetText(idFolder, blocker + L"\\pictures");
    page.SetText(idPattern, L"Shot");

    HRESULT result = S_OK;
    EXPECT_EQ(S_OK, page.SaveSettings(result));
    EXPECT_TRUE(FAILED(result));
    std::wstring message = page.Text(addons::kMessageId);
    EXPECT_TRUE(Contains(message, L"cannot be created")) << ui::Utf8(message);
    EXPECT_TRUE(Contains(message, blocker + L"\\pictures"));
    EXPECT_EQ(std::vector<std::wstring>{L"blocker"}, scratch.Files());
    EXPECT_FALSE(testing_support::KeyExists(HKEY_CURRENT_USER, kSettingsKey));

    // A name Windows refuses is explained the same way.
    page.SetText(idFolder, scratch.Path() + L"\\pictures");
    page.SetText(idPattern, L"CON");
    EXPECT_EQ(S_OK, page.SaveSettings(result));
    EXPECT_TRUE(FAILED(result));
    EXPECT_TRUE(Contains(page.Text(addons::kMessageId), L"device"));

    page.SetText(idPattern, L"Shot");
    EXPECT_EQ(L"Shot.png", page.Text(idPreview));
    EXPECT_EQ(S_OK, page.SaveSettings(result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(L"", page.Text(addons::kMessageId));
    EXPECT_EQ(scratch.Path() + L"\\pictures",
              addons::TAddonKey(kAddonName, false).ReadString(L"Folder", L""));

    // Saved twice under the same name: the second gets a number, and no
    // temporary file stays behind.
    EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result));
    EXPECT_EQ(S_OK, result);
    std::vector<std::wstring> files = scratch.Files(scratch.Path() + L"\\pictures");
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Shot (2).png", L"Shot.png"}), files);
}

TEST_F(SaveToFileTest, FoldersAndNamesOutsideTheCodePageAndBeyondMaxPath) {
    ScratchFolder scratch;
    std::wstring folder = scratch.Path() + L"\\Bilder \u5199\u771F \u2713";
    StoreSettings(folder, L"\u0421\u043D\u0438\u043C\u043E\u043A {counter}");
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    HRESULT result = E_UNEXPECTED;
    EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result));
    EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result));
    std::vector<std::wstring> files = scratch.Files(folder);
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::wstring>{L"\u0421\u043D\u0438\u043C\u043E\u043A 001.png",
                                         L"\u0421\u043D\u0438\u043C\u043E\u043A 002.png"}),
              files);
    std::string png = addon_tests::ReadFile(folder + L"\\" + files[0]);
    EXPECT_EQ("\x89PNG", png.substr(0, 4));

    std::wstring deep = scratch.Path();
    while (deep.size() < 300) deep += L"\\" + std::wstring(40, L'd');
    StoreSettings(deep, L"deep");
    EXPECT_EQ(S_OK, addon_tests::Execute(NewPlugin().get(), Picture(), result));
    EXPECT_EQ(S_OK, result);
    EXPECT_TRUE(addons::FolderExists(deep));
    EXPECT_EQ(std::vector<std::wstring>{L"deep.png"}, scratch.Files(addons::LongPath(deep)));
}

TEST_F(SaveToFileTest, AFailedSaveIsTheCallsErrorWithItsReason) {
    StoreSettings(L"relative\\folder", L"Shot");
    HRESULT result = S_OK;
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    HRESULT status = addon_tests::Execute(plugin.get(), Picture(), result);
    EXPECT_TRUE(FAILED(status));
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, ::GetErrorInfo(0, info.put()));
    ui::Bstr text;
    info->GetDescription(text.put());
    EXPECT_TRUE(Contains(text.get(), L"not a full path")) << ui::Utf8(text.get());

    ScratchFolder scratch;
    StoreSettings(scratch.Path(), L"Shot");
    std::vector<BYTE> notABitmap = {'G', 'I', 'F', '8'};
    notABitmap.resize(100);
    EXPECT_TRUE(FAILED(addon_tests::Execute(plugin.get(), notABitmap, result)));
    EXPECT_TRUE(scratch.Files().empty());

    // A stream that does not live in global memory is read out instead.
    std::vector<BYTE> picture = Picture();
    ComPtr<IStream> stream;
    stream.put()[0] = ::SHCreateMemStream(picture.data(), static_cast<UINT>(picture.size()));
    EXPECT_EQ(S_OK, plugin->Execute(stream.get(), 0, &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(std::vector<std::wstring>{L"Shot.png"}, scratch.Files());
}

// Writes sources and what the plug-in made of them for tests/addons/formats.sh,
// which compares them with ImageMagick; skipped without KESTRIX_FORMATS_OUT.
TEST_F(SaveToFileTest, WritesEveryFormat) {
    const char* out = std::getenv("KESTRIX_FORMATS_OUT");
    if (!out) GTEST_SKIP() << "run by formats.sh";
    std::wstring folder = ui::WideFromUtf8(out);
    struct Source {
        const wchar_t* name;
        std::vector<BYTE> bytes;
        std::vector<int> formats;
    };
    using F = addons::TImageFormat;
    const Source sources[] = {
        {L"many24", addon_tests::BitmapFile(97, 61, 24,
                                            [](int x, int y) {
                                                return DWORD((x * 5 % 256) << 16 |
                                                             (y * 7 % 256) << 8 | ((x ^ y) & 0xFF));
                                            }),
         {int(F::Png), int(F::Bmp), int(F::Tiff)}},
        {L"smooth24", addon_tests::BitmapFile(97, 61, 24,
                                              [](int x, int y) {
                                                  return DWORD((x * 255 / 96) << 16 |
                                                               (y * 255 / 60) << 8 | 0x80);
                                              }),
         {int(F::Jpeg)}},
        {L"indexed8", addon_tests::BitmapFile(97, 61, 8,
                                              [](int x, int y) { return DWORD((x / 3 + y * 5) % 256); }),
         {int(F::Png), int(F::Bmp), int(F::Tiff), int(F::Gif)}},
        {L"screen32", addon_tests::BitmapFile(97, 61, 32,
                                              [](int x, int y) {
                                                  return (x / 10 + y / 10) % 3 ? 0xF0F0F0u : 0x3366CCu;
                                              }),
         {int(F::Png), int(F::Gif), int(F::Tiff), int(F::Bmp)}},
    };
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    for (const Source& source : sources) {
        std::wstring path = folder + L"\\" + source.name + L".bmp";
        ui::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ::WriteFile(file.get(), source.bytes.data(), static_cast<DWORD>(source.bytes.size()), &written, nullptr);
        for (int format : source.formats) {
            StoreSettings(folder, std::wstring(source.name) + L"-out", format);
            HRESULT result = E_UNEXPECTED;
            EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), source.bytes, result))
                << ui::Utf8(source.name) << " " << format;
            EXPECT_EQ(S_OK, result);
        }
    }
}

}  // namespace
