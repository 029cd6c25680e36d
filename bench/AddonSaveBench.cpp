// Saving 3840 x 2160 screenshot-like pictures as PNG through the
// Save-to-file plug-in (the bitmap-file stream in, the file out) against the
// bare WIC encode of the same pixels to memory. Writes the source and the
// plug-in's PNG into the folder named by KESTRIX_BENCH_OUT (else the
// temporary folder), where addon_png_size.sh compares the PNG with
// ImageMagick's. HKEY_CURRENT_USER is redirected to a scratch key.
#include "bench/BenchTiming.h"
#include "ui/Handles.h"

#include "kestrix.h"

#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using ui::ComPtr;

using namespace bench;

namespace {

const int kWidth = 3840, kHeight = 2160;
const IID kPluginIID = {0xF74878BF, 0x1956, 0x4809, {0x91, 0x2F, 0x7F, 0x38, 0x6C, 0x79, 0x05, 0x9A}};
const CLSID kSaveToFile = {0xEC4EEBF1, 0x28C8, 0x40FC, {0x80, 0xA5, 0xC1, 0x43, 0x8C, 0xD9, 0xA2, 0x40}};

// A desktop with windows: flat colours, title bars with a gradient, text,
// and with photo set a photo-like tile in each window (many colours).
std::vector<BYTE> Screenshot(std::vector<BYTE>& pixels, bool photo) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ui::MemDc dc(::CreateCompatibleDC(nullptr));
    ui::GdiBitmap dib(::CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ui::SelectGuard select(dc.get(), dib.get());
    auto fill = [&](int l, int t, int r, int b, COLORREF c) {
        RECT rc = {l, t, r, b};
        ui::GdiBrush brush(::CreateSolidBrush(c));
        ::FillRect(dc.get(), &rc, brush.get());
    };
    fill(0, 0, kWidth, kHeight, RGB(0x3A, 0x6E, 0xA5));
    ::SetBkMode(dc.get(), TRANSPARENT);
    for (int w = 0; w < 6; ++w) {
        int l = 120 + w * 420, t = 100 + w * 200, r = l + 1500, b = t + 1000;
        fill(l, t, r, b, RGB(0xF0, 0xF0, 0xF0));
        for (int x = l; x < r; x += 4)  // title bar
            fill(x, t, x + 4, t + 40, RGB(0x10, 0x40 + (x - l) * 0x80 / 1500, 0xC0));
        ::SetTextColor(dc.get(), RGB(0x20, 0x20, 0x20));
        for (int line = 0; line < 40; ++line) {
            std::string text = "Line " + std::to_string(line) +
                               ": the quick brown fox jumps over the lazy dog 0123456789";
            ::TextOutA(dc.get(), l + 20, t + 60 + line * 22, text.c_str(), static_cast<int>(text.size()));
        }
        if (!photo) continue;
        for (int y = 0; y < 300; y += 2)
            for (int x = 0; x < 400; x += 2)
                fill(l + 1050 + x, t + 100 + y, l + 1052 + x, t + 102 + y,
                     RGB(x * 255 / 400, y * 255 / 300, (x + y) % 256));
    }
    ::GdiFlush();
    size_t size = static_cast<size_t>(kWidth) * kHeight * 4;
    pixels.assign(static_cast<BYTE*>(bits), static_cast<BYTE*>(bits) + size);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + size);
    std::vector<BYTE> bytes(file.bfSize);
    memcpy(bytes.data(), &file, sizeof file);
    memcpy(bytes.data() + sizeof file, &info.bmiHeader, sizeof info.bmiHeader);
    memcpy(bytes.data() + file.bfOffBits, bits, size);
    return bytes;
}

// The baseline: the pixels, already in memory, through WIC's PNG encoder
// into memory.
size_t BareEncode(IWICImagingFactory* wic, const std::vector<BYTE>& pixels) {
    ComPtr<IWICBitmap> bitmap;
    wic->CreateBitmapFromMemory(kWidth, kHeight, GUID_WICPixelFormat32bppBGR, kWidth * 4,
                                static_cast<UINT>(pixels.size()), const_cast<BYTE*>(pixels.data()),
                                bitmap.put());
    ComPtr<IStream> out;
    ::CreateStreamOnHGlobal(nullptr, TRUE, out.put());
    ComPtr<IWICBitmapEncoder> encoder;
    wic->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put());
    encoder->Initialize(out.get(), WICBitmapEncoderNoCache);
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    encoder->CreateNewFrame(frame.put(), options.put());
    frame->Initialize(options.get());
    frame->SetSize(kWidth, kHeight);
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGR;
    frame->SetPixelFormat(&format);
    ComPtr<IWICBitmapSource> source;
    if (format != GUID_WICPixelFormat32bppBGR)
        ::WICConvertBitmapSource(format, bitmap.get(), source.put());
    else
        bitmap->QueryInterface(IID_IWICBitmapSource, source.put_void());
    frame->WriteSource(source.get(), nullptr);
    frame->Commit();
    encoder->Commit();
    STATSTG stat = {};
    out->Stat(&stat, STATFLAG_NONAME);
    return stat.cbSize.LowPart;
}

void WriteFile(const std::wstring& path, const std::vector<BYTE>& bytes) {
    ui::FileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

int main() {
    ::OleInitialize(nullptr);
    wchar_t temp[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"kestrix-bench";
    if (const wchar_t* out = _wgetenv(L"KESTRIX_BENCH_OUT")) folder = out;
    ::CreateDirectoryW(folder.c_str(), nullptr);

    const std::string scratch = "Software\\KestrixBench\\save-" + std::to_string(::GetCurrentProcessId());
    ui::RegKey root, settings;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      root.put(), nullptr);
    ::RegOverridePredefKey(HKEY_CURRENT_USER, root.get());
    ::RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Orvane\\Kestrix\\Addons\\SaveToFile", 0, nullptr,
                      0, KEY_ALL_ACCESS, nullptr, settings.put(), nullptr);
    ::RegSetValueExW(settings.get(), L"Folder", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>((folder.size() + 1) * 2));

    // The plug-in straight from its DLL, as COM would load it.
    ui::Module dll(::LoadLibraryA("KestrixSaveToFile.dll"));
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        ::GetProcAddress(dll.get(), "DllGetClassObject"));
    ComPtr<IClassFactory> factory;
    ComPtr<IKestrixPlugin> plugin;
    if (!getClassObject || FAILED(getClassObject(kSaveToFile, IID_IClassFactory, factory.put_void())) ||
        FAILED(factory->CreateInstance(nullptr, kPluginIID, plugin.put_void()))) {
        std::printf("cannot load KestrixSaveToFile.dll\n");
        return 1;
    }
    ComPtr<IWICImagingFactory> wic;
    ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                       wic.put_void());

    bool ok = true;
    for (bool photo : {false, true}) {
        std::vector<BYTE> pixels;
        std::vector<BYTE> bitmapFile = Screenshot(pixels, photo);
        std::wstring name = photo ? L"photo" : L"flat";
        WriteFile(folder + L"\\" + name + L".bmp", bitmapFile);
        std::wstring saved = folder + L"\\" + name + L"-plugin.png";
        ::RegSetValueExW(settings.get(), L"FileName", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>((name + L"-plugin").c_str()),
                         static_cast<DWORD>((name.size() + 8) * 2));

        // The stream as the wizard hands it over, made before the clock runs.
        ComPtr<IStream> stream;
        ::CreateStreamOnHGlobal(nullptr, TRUE, stream.put());
        ULONG written = 0;
        stream->Write(bitmapFile.data(), static_cast<ULONG>(bitmapFile.size()), &written);
        // Turn about, so that both see the same load of a shared machine.
        size_t bareSize = 0;
        HRESULT status = S_OK, result = S_OK;
        const Runs runs = Measure(kRuns, [&](int) {
            const double bare = Once([&] { bareSize = BareEncode(wic.get(), pixels); });
            ::DeleteFileW(saved.c_str());
            LARGE_INTEGER zero = {};
            stream->Seek(zero, STREAM_SEEK_SET, nullptr);
            return std::pair{Once([&] { status = plugin->Execute(stream.get(), 0, &result); }), bare};
        });
        ui::FileHandle file(::CreateFileW(saved.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        DWORD size = file ? ::GetFileSize(file.get(), nullptr) : 0;
        std::printf("%dx%d screenshot-like picture, %s, as PNG (status %08lX, result %08lX)\n",
                    kWidth, kHeight, photo ? "with photos (over 256 colours)" : "windows and text",
                    static_cast<unsigned long>(status), static_cast<unsigned long>(result));
        std::printf("  bare WIC encode:      %8.1f ms  %9zu bytes (median)\n", runs.Base() * 1000,
                    bareSize);
        std::printf("  Save to file, whole:  %8.1f ms  %9lu bytes (median)\n", runs.Cost() * 1000,
                    static_cast<unsigned long>(size));
        Report(photo ? "png-save-photo/bare-encode" : "png-save-flat/bare-encode",
               "time ratio save / bare encode", runs.Ratio(), 1.2);
        ok = ok && SUCCEEDED(status) && SUCCEEDED(result);
    }
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, scratch.c_str());
    return ok ? 0 : 1;
}
