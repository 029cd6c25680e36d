// Damaged bitmap files, made deterministically from small valid ones,
// through Execute of both shipped add-ons in this one process: each is
// refused with the reader's message or saved, nothing crashes and no
// temporary file stays behind. KESTRIX_FUZZ_SEED picks another seed.
#include "addons/OpenInEditor/OpenInEditor.h"
#include "addons/SaveToFile/SaveToFile.h"
#include "addons/common/AddonSettings.h"
#include "tests/addons/AddonTestSupport.h"
#include "tests/support/RegistryScope.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

using addon_tests::ScratchFolder;
using ui::ComPtr;

namespace {

const int kCases = 10000;
const std::string kSaveSettingsKey = "Software\\Orvane\\Kestrix\\Addons\\SaveToFile";

// Named for the crash report: an access violation ends the process before
// any expectation can speak.
std::string g_current;
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* e) {
    std::fprintf(stderr, "\nCRASH (exception %08lX) on %s\n", e->ExceptionRecord->ExceptionCode,
                 g_current.c_str());
    std::fflush(stderr);
    ::ExitProcess(3);
}

struct Sample {
    std::string name;
    std::vector<BYTE> bytes;
};

void Put32(std::vector<BYTE>& b, size_t at, DWORD v) {
    if (at + 4 <= b.size()) memcpy(b.data() + at, &v, 4);
}

// Valid files at every depth, with padded rows, bit fields and top-down.
std::vector<Sample> ValidSamples() {
    auto colour = [](int x, int y) {
        return DWORD((x * 50 % 256) << 16 | (y * 70 % 256) << 8 | (x ^ y) * 30);
    };
    auto index = [](int x, int y) { return DWORD(x + 3 * y); };
    using addon_tests::BitmapFile;
    std::vector<Sample> samples = {
        {"1-bit 13x5", BitmapFile(13, 5, 1, index)},  {"4-bit 7x4", BitmapFile(7, 4, 4, index)},
        {"8-bit 5x3", BitmapFile(5, 3, 8, index)},    {"16-bit 5x3", BitmapFile(5, 3, 16, colour)},
        {"24-bit 5x3", BitmapFile(5, 3, 24, colour)}, {"32-bit 3x4", BitmapFile(3, 4, 32, colour)},
    };
    // 5-6-5 with its masks after the header.
    std::vector<BYTE> fields = BitmapFile(5, 3, 16, colour);
    const BYTE masks[12] = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    fields.insert(fields.begin() + 54, masks, masks + 12);
    Put32(fields, 2, static_cast<DWORD>(fields.size()));
    Put32(fields, 10, 66);
    Put32(fields, 30, BI_BITFIELDS);
    samples.push_back({"16-bit 5-6-5 bit fields 5x3", fields});
    std::vector<BYTE> topDown = BitmapFile(3, 4, 32, colour);
    Put32(topDown, 22, static_cast<DWORD>(-4));
    samples.push_back({"32-bit top-down 3x4", topDown});
    return samples;
}

struct HeaderField {
    const char* name;
    size_t at, size;
};
const HeaderField kFields[] = {
    {"bfSize", 2, 4},       {"bfOffBits", 10, 4}, {"biSize", 14, 4},     {"biWidth", 18, 4},
    {"biHeight", 22, 4},    {"biPlanes", 26, 2},  {"biBitCount", 28, 2}, {"biCompression", 30, 4},
    {"biSizeImage", 34, 4}, {"biClrUsed", 46, 4}, {"red mask", 54, 4},   {"green mask", 58, 4},
    {"blue mask", 62, 4},
};
const DWORD kExtremes[] = {0,          1,          2,          3,          4,          8,
                           12,         16,         24,         32,         40,         52,
                           108,        124,        255,        256,        257,        0x7FFF,
                           0x8000,     0xFFFF,     0x10000,    0x10001,    0x7FFFFFFF, 0x80000000,
                           0x80000001, 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFEFFFF, 0xFFFF0000, 0xFFFFFF00};

// One damaged file: one to three changes to a valid sample.
Sample Damaged(const std::vector<Sample>& valid, std::mt19937& random) {
    const Sample& base = valid[random() % valid.size()];
    Sample s{base.name, base.bytes};
    int changes = 1 + random() % 3;
    for (int c = 0; c < changes; ++c) {
        size_t header = std::min<size_t>(s.bytes.size(), 54 + 16);
        switch (random() % 6) {
            case 0:
            case 1: {  // a field set to an extreme or odd value
                const HeaderField& f = kFields[random() % std::size(kFields)];
                DWORD old = 0;
                if (f.at + f.size <= s.bytes.size()) memcpy(&old, s.bytes.data() + f.at, f.size);
                const DWORD around[] = {old + 1,
                                        old - 1,
                                        old * 2,
                                        ~old,
                                        DWORD(s.bytes.size()),
                                        DWORD(s.bytes.size() + 1),
                                        random()};
                DWORD v = random() % 4 ? kExtremes[random() % std::size(kExtremes)]
                                       : around[random() % std::size(around)];
                if (f.at + f.size <= s.bytes.size()) memcpy(s.bytes.data() + f.at, &v, f.size);
                char text[64];
                std::snprintf(text, sizeof text, ", %s=0x%lX", f.name, v);
                s.name += text;
                break;
            }
            case 2:
            case 3:
            case 4: {  // a header byte with a bit flipped, or replaced
                if (!header) break;
                size_t at = random() % header;
                BYTE was = s.bytes[at];
                s.bytes[at] =
                    random() % 3 ? was ^ (1 << random() % 8) : static_cast<BYTE>(random());
                s.name += ", byte " + std::to_string(at) + " " + std::to_string(was) + "->" +
                          std::to_string(s.bytes[at]);
                break;
            }
            default: {  // the tail cut
                size_t keep = random() % 2 ? random() % (s.bytes.size() + 1)
                                           : s.bytes.size() -
                                                 std::min<size_t>(s.bytes.size(), 1 + random() % 8);
                s.bytes.resize(keep);
                s.name += ", cut to " + std::to_string(keep) + " bytes";
            }
        }
    }
    return s;
}

// Files that once made the reader write outside its buffers.
std::vector<Sample> ReportedFiles() {
    std::vector<BYTE> minHeight = addon_tests::BitmapFile(2, 1, 32, [](int, int) { return 0u; });
    Put32(minHeight, 22, 0x80000000);
    std::vector<BYTE> wide = addon_tests::BitmapFile(4, 4, 32, [](int, int) { return 0u; });
    Put32(wide, 18, 65536);
    Put32(wide, 22, 65537);
    std::vector<BYTE> wideTopDown = wide;
    Put32(wideTopDown, 22, static_cast<DWORD>(-65537));
    return {{"62 bytes, 32-bit, width 2, height INT_MIN", minHeight},
            {"32-bit, width 65536, height 65537", wide},
            {"32-bit, width 65536, height -65537", wideTopDown}};
}

bool Unreadable(const std::wstring& message) {
    return message.rfind(ui::WideFromUtf8(addons::kPictureUnreadable), 0) == 0;
}

class BitmapFuzzTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        plugins_ = std::make_unique<testing_support::SavedKey>(addons::kPluginsKey);
        settings_ = std::make_unique<testing_support::SavedKey>(kSaveSettingsKey);
        ASSERT_EQ(0, addon_tests::Regsvr32("KestrixSaveToFile.dll", true));
        ASSERT_EQ(0, addon_tests::Regsvr32("KestrixOpenInEditor.dll", true));
    }
    static void TearDownTestSuite() {
        addon_tests::Regsvr32("KestrixSaveToFile.dll", false);
        addon_tests::Regsvr32("KestrixOpenInEditor.dll", false);
        settings_.reset();
        plugins_.reset();
    }
    static std::unique_ptr<testing_support::SavedKey> plugins_, settings_;
};
std::unique_ptr<testing_support::SavedKey> BitmapFuzzTest::plugins_, BitmapFuzzTest::settings_;

// Failed expectations so far; after 20 failing cases the rest is noise.
int FailureCount() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

ComPtr<IKestrixPlugin> NewPlugin(const CLSID& clsid) {
    ComPtr<IKestrixPlugin> plugin;
    EXPECT_EQ(S_OK, ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKestrixPlugin,
                                       plugin.put_void()));
    return plugin;
}

TEST_F(BitmapFuzzTest, DamagedFilesAreRefusedOrSavedAndLeaveNothingBehind) {
    unsigned seed = 17;
    if (const char* s = std::getenv("KESTRIX_FUZZ_SEED"))
        seed = static_cast<unsigned>(std::strtoul(s, nullptr, 0));
    std::printf("bitmap fuzz: seed %u, %d damaged files\n", seed, kCases);
    ::SetUnhandledExceptionFilter(ReportCrash);

    ScratchFolder scratch(L"kestrix-fuzz");
    {
        addons::TAddonKey key(save_to_file::kAddonName, true);
        key.WriteString(L"Folder", scratch.Path());
        key.WriteString(L"FileName", L"fuzz");
        key.WriteNumber(L"Format", 0);
    }
    // An editor that does not exist: the add-on writes its picture, the
    // shell fails to start anything and the add-on removes the picture
    // again, so that no editor starts ten thousand times.
    addon_tests::PngAssociation editor("edit", L"C:\\kestrix-no-such-editor\\editor.exe \"%1\"");
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring editorFolder = std::wstring(temp) + L"Kestrix";
    const size_t editorFiles = scratch.Files(editorFolder).size();
    ComPtr<IKestrixPlugin> save = NewPlugin(save_to_file::CLSID_SaveToFile);
    ComPtr<IKestrixPlugin> edit = NewPlugin(open_in_editor::CLSID_OpenInEditor);
    ASSERT_TRUE(save && edit);

    std::vector<Sample> valid = ValidSamples();
    std::vector<Sample> reported = ReportedFiles();
    std::mt19937 random(seed);
    int saved = 0, refused = 0, edited = 0, failures = 0;
    for (int i = 0; i < kCases && failures < 20; ++i) {
        Sample sample = i < int(reported.size()) ? reported[i] : Damaged(valid, random);
        g_current =
            "case " + std::to_string(i) + " (seed " + std::to_string(seed) + "): " + sample.name;
        const int failuresBefore = FailureCount();

        HRESULT result = E_UNEXPECTED;
        HRESULT status = addon_tests::Execute(save.get(), sample.bytes, result);
        std::wstring message = FAILED(status) ? addon_tests::LastErrorText() : L"";
        std::vector<std::wstring> files = scratch.Files();
        if (SUCCEEDED(status) && result == S_OK) {
            ++saved;
            // Another process that replaces the settings sends the file elsewhere.
            EXPECT_EQ(std::vector<std::wstring>{L"fuzz.png"}, files)
                << g_current << "; the add-on's folder now: "
                << ui::Utf8(addons::TAddonKey(save_to_file::kAddonName, false)
                                .ReadString(L"Folder", L"<none>"));
            ::DeleteFileW((scratch.Path() + L"\\fuzz.png").c_str());
        } else {
            ++refused;
            EXPECT_TRUE(Unreadable(message)) << g_current << ": " << ui::Utf8(message);
            EXPECT_TRUE(files.empty()) << g_current << ": " << files.size() << " files left";
        }
        if (i < int(reported.size())) EXPECT_TRUE(FAILED(status)) << g_current;

        status = addon_tests::Execute(edit.get(), sample.bytes, result);
        message = FAILED(status) ? addon_tests::LastErrorText() : L"";
        if (!Unreadable(message)) {
            ++edited;
            EXPECT_NE(std::wstring::npos, message.find(L"Cannot open the picture with"))
                << g_current << ": " << ui::Utf8(message);
        }
        EXPECT_EQ(editorFiles, scratch.Files(editorFolder).size()) << g_current;
        if (FailureCount() != failuresBefore) ++failures;
    }
    g_current.clear();
    std::printf(
        "bitmap fuzz: seed %u, %d files: %d saved, %d refused; the editor add-on "
        "refused %d and handed on %d\n",
        seed, saved + refused, saved, refused, saved + refused - edited, edited);
    EXPECT_EQ(kCases, saved + refused);
    EXPECT_GT(saved, 0);
    EXPECT_GT(refused, 0);
}

}  // namespace
