// The Save-to-file plug-in as the wizard drives it: installed by regsvr32,
// its page shown and checked by SaveSettings, pictures saved by Execute.
#include "addons/SaveToFile/FileNamePattern.h"
#include "addons/SaveToFile/SaveToFileOptions.h"
#include "addons/common/AddonSettings.h"
#include "addons/common/Files.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/support/RegistryScope.h"
#include "ui/BitmapFile.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <wincodec.h>

#include <algorithm>
#include <cmath>
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

// The add-on's WriteFile, through its import table, writes half of what it
// is given and then fails as a full disk does.
class HalfWrites {
public:
    explicit HalfWrites(const wchar_t* dll) {
        auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(dll));
        if (!base) return;
        auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
            base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        DWORD imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
        for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); d->Name; ++d) {
            if (_stricmp(reinterpret_cast<char*>(base + d->Name), "kernel32.dll") != 0) continue;
            auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
            auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
            for (; name->u1.AddressOfData; ++name, ++slot) {
                if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
                if (strcmp(reinterpret_cast<char*>(byName->Name), "WriteFile") == 0)
                    slot_ = reinterpret_cast<void**>(&slot->u1.Function);
            }
        }
        if (slot_) Swap(reinterpret_cast<void*>(&Half));
    }
    ~HalfWrites() {
        if (slot_) Swap(reinterpret_cast<void*>(&::WriteFile));
    }
    bool Active() const { return slot_ != nullptr; }

private:
    static BOOL WINAPI Half(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                            LPOVERLAPPED o) {
        ::WriteFile(file, data, size / 2, written, o);
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    void Swap(void* to) {
        DWORD old = 0;
        ::VirtualProtect(slot_, sizeof(void*), PAGE_READWRITE, &old);
        *slot_ = to;
        ::VirtualProtect(slot_, sizeof(void*), old, &old);
    }
    void** slot_ = nullptr;
};

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

TEST_F(SaveToFileTest, ThePageExplainsAPastedQualityOnlyForJpegAndShowsAllFields) {
    ScratchFolder scratch;
    StoreSettings(scratch.Path(), L"Shot", int(addons::TImageFormat::Jpeg));
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    ShownOptions page(CLSID_SaveToFileOptions, plugin.get());
    ASSERT_TRUE(page.Page());
    page.SetText(idQuality, L"high");
    HRESULT result = S_OK;
    EXPECT_EQ(S_OK, page.SaveSettings(result));
    EXPECT_TRUE(FAILED(result));
    EXPECT_EQ(L"The JPEG quality \"high\" is not a number. Type a number from 1 to 100.",
              page.Text(addons::kMessageId));

    // Not a JPEG: the quality does not count, and the stored one stays.
    ::SendMessageW(::GetDlgItem(page.Page(), idFormat), CB_SETCURSEL,
                   int(addons::TImageFormat::Png), 0);
    EXPECT_EQ(S_OK, page.SaveSettings(result));
    EXPECT_EQ(S_OK, result) << ui::Utf8(page.Text(addons::kMessageId));
    EXPECT_EQ(90u, addons::TAddonKey(kAddonName, false).ReadNumber(L"JpegQuality", 0));

    // The fields line holds its whole text in the page's font.
    HWND fields = ::GetDlgItem(page.Page(), idFields);
    RECT box = {};
    ::GetClientRect(fields, &box);
    RECT need = box;
    HDC dc = ::GetDC(fields);
    HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(fields, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, kPatternFields, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    ::SelectObject(dc, old);
    ::ReleaseDC(fields, dc);
    EXPECT_LE(need.right, box.right);
    EXPECT_LE(need.bottom, box.bottom);
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

    // Past 248 characters, written with "..", "/" and a trailing dot: the
    // folder Windows would make of it, not one named literally.
    StoreSettings(deep + L"\\skipped\\..\\sub./inner.", L"inner");
    EXPECT_EQ(S_OK, addon_tests::Execute(NewPlugin().get(), Picture(), result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(std::vector<std::wstring>{L"inner.png"},
              scratch.Files(addons::LongPath(deep + L"\\sub\\inner")));
    EXPECT_FALSE(addons::FolderExists(deep + L"\\skipped"));

    // A prefixed folder whose top level under the drive is missing too.
    std::wstring top =
        scratch.Path().substr(0, 3) + L"kestrix-top-" + std::to_wstring(::GetCurrentProcessId());
    StoreSettings(L"\\\\?\\" + top + L"\\pictures", L"top");
    EXPECT_EQ(S_OK, addon_tests::Execute(NewPlugin().get(), Picture(), result))
        << ui::Utf8(addon_tests::LastErrorText());
    EXPECT_EQ(std::vector<std::wstring>{L"top.png"}, scratch.Files(top + L"\\pictures"));
    addon_tests::DeleteTree(top);

    // A share takes the prefix of its own.
    EXPECT_EQ(L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L's'),
              addons::LongPath(L"//server/share/x/../" + std::wstring(250, L's') + L"."));
}

TEST_F(SaveToFileTest, NamesAreCheckedAsTheyWillBeWritten) {
    ScratchFolder scratch;
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    HRESULT result = E_UNEXPECTED;
    const std::pair<std::wstring, std::wstring> refused[] = {
        {L"", L"empty"},
        {L"Shot.", L"ends with a space or a dot"},
        {L"{date} ", L"ends with"},
        {L"COM0", L"device"},
        {L"lpt\u00B9", L"device"},
        {L"CONOUT$", L"device"},
    };
    for (const auto& [pattern, reason] : refused) {
        StoreSettings(scratch.Path(), pattern);
        EXPECT_TRUE(FAILED(addon_tests::Execute(plugin.get(), Picture(), result)))
            << ui::Utf8(pattern);
        std::wstring text = addon_tests::LastErrorText();
        EXPECT_TRUE(Contains(text, reason)) << ui::Utf8(pattern) << ": " << ui::Utf8(text);
    }
    EXPECT_TRUE(scratch.Files().empty());

    // 250 characters fit with ".png"; with " (2)" on a collision they do not.
    std::wstring longName(250, L'n');
    StoreSettings(scratch.Path(), longName);
    EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result));
    EXPECT_TRUE(FAILED(addon_tests::Execute(plugin.get(), Picture(), result)));
    std::wstring text = addon_tests::LastErrorText();
    EXPECT_TRUE(Contains(text, L"exists already") && Contains(text, L"255")) << ui::Utf8(text);
    EXPECT_EQ(std::vector<std::wstring>{longName + L".png"}, scratch.Files());
}

TEST_F(SaveToFileTest, AWriteThatFailsHalfWayLeavesNothingInTheFolder) {
    ScratchFolder scratch;
    StoreSettings(scratch.Path(), L"Shot");
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    HRESULT result = E_UNEXPECTED;
    {
        HalfWrites full(L"KestrixSaveToFile.dll");
        ASSERT_TRUE(full.Active());
        EXPECT_TRUE(FAILED(addon_tests::Execute(plugin.get(), Picture(), result)));
        std::wstring text = addon_tests::LastErrorText();
        EXPECT_TRUE(Contains(text, L"Cannot write the picture")) << ui::Utf8(text);
        EXPECT_TRUE(scratch.Files().empty());
    }

    // Leftover temporary files, of the old numbered kind too, and a name
    // pending deletion do not block the next save.
    for (const wchar_t* name : {L"~kestrix-1-1.tmp", L"~kestrix-0000000000000.tmp"})
        ui::FileHandle(::CreateFileW((scratch.Path() + L"\\" + name).c_str(), GENERIC_WRITE, 0,
                                     nullptr, CREATE_NEW, 0, nullptr));
    std::wstring shot = scratch.Path() + L"\\Shot.png";
    ui::FileHandle pending(::CreateFileW(shot.c_str(), GENERIC_WRITE | DELETE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, CREATE_NEW, 0, nullptr));
    FILE_DISPOSITION_INFO disposition = {TRUE};
    EXPECT_TRUE(::SetFileInformationByHandle(pending.get(), FileDispositionInfo, &disposition,
                                             sizeof disposition));
    EXPECT_EQ(S_OK, addon_tests::Execute(plugin.get(), Picture(), result))
        << ui::Utf8(addon_tests::LastErrorText());
    EXPECT_EQ(S_OK, result);
    pending.reset();
    std::vector<std::wstring> files = scratch.Files();
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Shot (2).png", L"~kestrix-0000000000000.tmp",
                                         L"~kestrix-1-1.tmp"}),
              files);
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

// A picture's pixels as the platform's decoder gives them, as 0xRRGGBB;
// empty when it cannot read them.
std::vector<UINT32> Decoded(IStream* stream) {
    ComPtr<IWICImagingFactory> wic;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    ComPtr<IWICBitmapSource> bgr;
    UINT w = 0, h = 0;
    if (!stream ||
        FAILED(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, wic.put_void())) ||
        FAILED(wic->CreateDecoderFromStream(stream, nullptr, WICDecodeMetadataCacheOnDemand,
                                            decoder.put())) ||
        FAILED(decoder->GetFrame(0, frame.put())) ||
        FAILED(::WICConvertBitmapSource(GUID_WICPixelFormat32bppBGR, frame.get(), bgr.put())) ||
        FAILED(bgr->GetSize(&w, &h)))
        return {};
    std::vector<UINT32> pixels(size_t(w) * h);
    bgr->CopyPixels(nullptr, w * 4, w * h * 4, reinterpret_cast<BYTE*>(pixels.data()));
    for (UINT32& p : pixels) p &= 0xFFFFFF;
    return pixels;
}

double Psnr(const std::vector<UINT32>& a, const std::vector<UINT32>& b) {
    double sum = 1e-9;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift : {0, 8, 16}) {
            int d = int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF);
            sum += d * d;
        }
    return 10 * std::log10(255.0 * 255.0 * 3 * a.size() / sum);
}

// Every depth the program hands over, written in every format and read back
// by the platform's decoder: lossless formats, and GIF up to 256 colours,
// exact; JPEG close to the picture.
TEST_F(SaveToFileTest, EveryFormatFromEveryDepthReadsBack) {
    ScratchFolder scratch;
    // Flat areas as on a screen beside a gradient of many colours.
    ui::TBitmap picture(96, 64, ui::pf32bit);
    for (int y = 0; y < 64; ++y) {
        auto* row = reinterpret_cast<UINT32*>(picture.Bits() + (63 - y) * picture.Stride());
        for (int x = 0; x < 48; ++x) {
            row[x] = (x / 12 + y / 16) % 3 ? ((y / 16) % 2 ? 0xF0F0F0 : 0x202020) : 0x1F4E99;
            row[48 + x] = UINT32(x * 5 << 16 | y * 4 << 8 | (x + y) * 2);
        }
    }
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    auto save = [&](ui::TBitmap& bitmap, int format, const std::wstring& name) {
        StoreSettings(scratch.Path(), name, format);
        HRESULT result = E_UNEXPECTED;
        EXPECT_EQ(S_OK, plugin->Execute(ui::BitmapFileStream(bitmap).get(), 0, &result))
            << ui::Utf8(name) << ": " << ui::Utf8(addon_tests::LastErrorText());
        return scratch.Path() + L"\\" + name +
               addons::FormatExtension(addons::TImageFormat(format));
    };
    // The encoder honours the quality when a lower one makes another file.
    // Wine's keeps its own (75), under which a dithered picture of 16
    // colours comes back at about 25 dB: there it only has to be recognisable.
    const int jpeg = int(addons::TImageFormat::Jpeg);
    addons::TAddonKey(kAddonName, true).WriteNumber(L"JpegQuality", 30);
    const std::string low = addon_tests::ReadFile(save(picture, jpeg, L"q30"));
    addons::TAddonKey(kAddonName, true).WriteNumber(L"JpegQuality", 90);
    const double minJpegPsnr = addon_tests::ReadFile(save(picture, jpeg, L"q90")) != low ? 30 : 20;

    for (int bits : {1, 4, 8, 15, 16, 24, 32}) {
        ui::TBitmap source;
        source.Assign(picture);
        source.SetPixelFormat(ui::PixelFormatOfBits(bits));
        const std::vector<UINT32> want = Decoded(ui::BitmapFileStream(source).get());
        ASSERT_EQ(96u * 64u, want.size()) << bits;
        for (int format = 0; format < addons::kImageFormatCount; ++format) {
            const std::wstring name = std::to_wstring(bits) + L" bits to " +
                                      addons::FormatName(addons::TImageFormat(format));
            ComPtr<IStream> file;
            ::SHCreateStreamOnFileW(save(source, format, name).c_str(), STGM_READ, file.put());
            const std::vector<UINT32> got = Decoded(file.get());
            if (got.size() != want.size())
                ADD_FAILURE() << ui::Utf8(name) << ": not read back";
            else if (format == jpeg)
                EXPECT_GE(Psnr(want, got), minJpegPsnr) << ui::Utf8(name);
            else if (format != int(addons::TImageFormat::Gif) || bits <= 8)
                EXPECT_TRUE(want == got) << ui::Utf8(name);
            else  // reduced to 256 colours
                EXPECT_GE(Psnr(want, got), 25) << ui::Utf8(name);
        }
    }
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

// The add-ons' shared plumbing, on this one: IDispatch reaches the vtable
// methods, and the DLL may unload once nothing of it is held.
TEST_F(SaveToFileTest, AnswersThroughIDispatch) {
    ComPtr<IKestrixPlugin> plugin = NewPlugin();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, plugin.As(dispatch));
    UINT count = 0;
    EXPECT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"GetPluginInfo"), const_cast<LPOLESTR>(L"Execute")};
    DISPID ids[2] = {};
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &names[0], 1, 0, &ids[0]));
    EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &names[1], 1, 0, &ids[1]));
    EXPECT_EQ(1, ids[0]);
    EXPECT_EQ(2, ids[1]);

    // GetPluginInfo(out Name, out Description, out OptionsObjectName): the
    // arguments go in reverse order, the Result comes back as the value.
    ui::Bstr name, description, options;
    VARIANT args[3];
    BSTR* outs[3] = {options.put(), description.put(), name.put()};
    for (int i = 0; i < 3; ++i) {
        ::VariantInit(&args[i]);
        V_VT(&args[i]) = VT_BSTR | VT_BYREF;
        V_BSTRREF(&args[i]) = outs[i];
    }
    DISPPARAMS params = {args, nullptr, 3, 0};
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO excep = {};
    UINT argErr = 0;
    EXPECT_EQ(S_OK, dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &excep, &argErr));
    EXPECT_STREQ(L"Save to file", name.get());
    CLSID optionsId = {};
    EXPECT_EQ(S_OK, ::CLSIDFromString(options.get(), &optionsId));
    EXPECT_EQ(CLSID_SaveToFileOptions, optionsId);
    EXPECT_EQ(VT_ERROR, V_VT(&result));
    EXPECT_EQ(S_OK, V_ERROR(&result));
    ::VariantClear(&result);
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE,
              dispatch->Invoke(1, IID_IKestrixPlugin, 0, DISPATCH_METHOD, &params, &result, &excep, &argErr));
}

TEST_F(SaveToFileTest, DllCanUnloadNowOnceEverythingIsReleased) {
    auto canUnloadNow = [] {
        HMODULE module = ::GetModuleHandleA(kDll);
        using Fn = HRESULT(STDAPICALLTYPE*)();
        auto fn = module ? reinterpret_cast<Fn>(::GetProcAddress(module, "DllCanUnloadNow")) : nullptr;
        return fn ? fn() : E_UNEXPECTED;
    };
    {
        ComPtr<IKestrixPlugin> plugin = NewPlugin();
        ComPtr<IOleObject> options;
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_SaveToFileOptions, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_IOleObject, options.put_void()));
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, ::CoGetClassObject(CLSID_SaveToFile, CLSCTX_INPROC_SERVER, nullptr,
                                           IID_IClassFactory, factory.put_void()));
        EXPECT_EQ(S_FALSE, canUnloadNow());
        plugin.reset();
        options.reset();
        EXPECT_EQ(S_FALSE, canUnloadNow()) << "the factory is still held";
        factory->LockServer(TRUE);
        factory.reset();
        EXPECT_EQ(S_FALSE, canUnloadNow()) << "the server is locked";
        ComPtr<IClassFactory> again;
        ASSERT_EQ(S_OK, ::CoGetClassObject(CLSID_SaveToFile, CLSCTX_INPROC_SERVER, nullptr,
                                           IID_IClassFactory, again.put_void()));
        again->LockServer(FALSE);
    }
    EXPECT_EQ(S_OK, canUnloadNow());
}

}  // namespace
