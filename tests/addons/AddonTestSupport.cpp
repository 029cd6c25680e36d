#include "tests/addons/AddonTestSupport.h"

#include "tests/support/TestSupport.h"

#include "tests/support/Processes.h"
#include "tests/support/RegistryScope.h"
#include "ui/Strings.h"

#include <gtest/gtest.h>

using ui::ComPtr;

namespace addon_tests {

int Regsvr32(const std::string& dll, bool install) {
    std::string command = std::string("regsvr32.exe /s ") + (install ? "" : "/u ") + "\"" +
                          testing_support::BinPath(dll) + "\"";
    testing_support::ChildProcess process(command);
    return process.Started() ? process.Wait(60000) : -1;
}

DWORD PaletteColour(int index) {
    return static_cast<DWORD>((index * 37 % 256) << 16 | (index * 91 % 256) << 8 | (255 - index));
}

std::vector<BYTE> BitmapFile(int w, int h, int bits, const std::function<DWORD(int, int)>& pixel) {
    int colours = bits <= 8 ? 1 << bits : 0;
    int stride = ((w * bits + 31) / 32) * 4;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = static_cast<WORD>(bits);
    info.biCompression = BI_RGB;
    info.biClrUsed = static_cast<DWORD>(colours);
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info + colours * 4;
    file.bfSize = file.bfOffBits + stride * h;
    std::vector<BYTE> bytes(file.bfSize);
    memcpy(bytes.data(), &file, sizeof file);
    memcpy(bytes.data() + sizeof file, &info, sizeof info);
    BYTE* table = bytes.data() + sizeof file + sizeof info;
    for (int i = 0; i < colours; ++i) {
        DWORD c = PaletteColour(i);
        table[i * 4] = static_cast<BYTE>(c);
        table[i * 4 + 1] = static_cast<BYTE>(c >> 8);
        table[i * 4 + 2] = static_cast<BYTE>(c >> 16);
    }
    BYTE* rows = bytes.data() + file.bfOffBits;
    for (int y = 0; y < h; ++y) {
        BYTE* row = rows + (h - 1 - y) * stride;  // bottom-up
        for (int x = 0; x < w; ++x) {
            DWORD v = pixel(x, y);
            if (bits < 8) {
                int shift = 8 - bits - (x * bits) % 8;
                row[x * bits / 8] |= static_cast<BYTE>((v & ((1 << bits) - 1)) << shift);
            } else if (bits == 8) {
                row[x] = static_cast<BYTE>(v);
            } else if (bits == 16) {
                WORD p =
                    static_cast<WORD>((v >> 19 & 31) << 10 | (v >> 11 & 31) << 5 | (v >> 3 & 31));
                memcpy(row + x * 2, &p, 2);
            } else {
                BYTE* p = row + x * (bits / 8);
                p[0] = static_cast<BYTE>(v);
                p[1] = static_cast<BYTE>(v >> 8);
                p[2] = static_cast<BYTE>(v >> 16);
            }
        }
    }
    return bytes;
}

HRESULT Execute(IKestrixPlugin* plugin, const std::vector<BYTE>& bitmapFile, HRESULT& result) {
    result = E_UNEXPECTED;
    return plugin->Execute(testing_support::MemoryStream(bitmapFile.data(), bitmapFile.size()).get(), 0, &result);
}

ShownOptions::ShownOptions(const CLSID& options, IKestrixPlugin* plugin) {
    host_.reset(::CreateWindowExW(0, L"STATIC", L"host", WS_POPUP | WS_VISIBLE, 0, 0, 560, 300,
                                  nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(S_OK, ::CoCreateInstance(options, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IKestrixPluginOptions, options_.put_void()));
    if (!options_) return;
    EXPECT_EQ(S_OK, options_->SetPlugin(plugin));
    EXPECT_EQ(S_OK, options_.As(object_));
    RECT rect = {0, 0, 542, 260};
    EXPECT_EQ(S_OK, object_->DoVerb(OLEIVERB_SHOW, nullptr, nullptr, 0, host_.get(), &rect));
    ComPtr<IOleWindow> window;
    if (SUCCEEDED(options_.As(window))) window->GetWindow(&page_);
    EXPECT_TRUE(page_ && ::IsWindowVisible(page_));
}

ShownOptions::~ShownOptions() {
    if (object_) object_->Close(OLECLOSE_NOSAVE);
}

std::wstring ShownOptions::Text(int id) const {
    wchar_t text[1024] = {};
    ::GetDlgItemTextW(page_, id, text, 1024);
    return text;
}

void ShownOptions::SetText(int id, const std::wstring& text) {
    ::SetDlgItemTextW(page_, id, text.c_str());
}

HRESULT ShownOptions::SaveSettings(HRESULT& result) {
    result = E_UNEXPECTED;
    return options_->SaveSettings(&result);
}

ScratchFolder::ScratchFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    path_ = std::wstring(temp) + name + L"-" + std::to_wstring(::GetCurrentProcessId());
    DeleteTree(path_);
    ::CreateDirectoryW(path_.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder() { DeleteTree(path_); }

std::vector<std::wstring> ScratchFolder::Files(const std::wstring& folder) const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW(((folder.empty() ? path_ : folder) + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (::FindNextFileW(find, &found));
    ::FindClose(find);
    return names;
}

namespace {
const char kPngProgId[] = "KestrixTest.PngPicture";

void SetDefault(const std::string& key, const std::wstring& value) {
    ui::RegKey k;
    ::RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, k.put(),
                      nullptr);
    ::RegSetValueExW(k.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * 2));
}
}  // namespace

PngAssociation::PngAssociation(const char* verb, const std::wstring& command) {
    EXPECT_FALSE(testing_support::KeyExists(HKEY_CLASSES_ROOT, ".png"))
        << "the machine has its own association for PNG files";
    SetDefault(".png", ui::WideFromUtf8(kPngProgId));
    SetDefault(std::string(kPngProgId) + "\\shell\\" + verb + "\\command", command);
}

PngAssociation::~PngAssociation() {
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, ".png");
    ::RegDeleteTreeA(HKEY_CLASSES_ROOT, kPngProgId);
}

std::wstring LastErrorText() {
    ComPtr<IErrorInfo> info;
    if (::GetErrorInfo(0, info.put()) != S_OK || !info) return {};
    ui::Bstr text;
    info->GetDescription(text.put());
    return text.get() ? text.get() : L"";
}

void DeleteTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteTree(path + L"\\" + name);
            else
                ::DeleteFileW((path + L"\\" + name).c_str());
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(path.c_str());
}

std::string ReadFile(const std::wstring& path) {
    ui::FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string bytes(::GetFileSize(file.get(), nullptr), '\0');
    DWORD got = 0;
    ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
    bytes.resize(got);
    return bytes;
}

}  // namespace addon_tests
