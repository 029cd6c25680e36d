#include "ui/Clipbrd.h"

#include "ui/BitmapFile.h"
#include "ui/Exception.h"

#include <cstring>

namespace ui {

TClipboard& Clipboard() {
    static TClipboard clipboard;
    return clipboard;
}

TClipboard::~TClipboard() {
    while (opens_ > 0) Close();
}

void TClipboard::Open() {
    if (opens_ == 0) {
        if (!wnd_) {
            // The owner: emptying the clipboard without one makes every
            // later put fail.
            wnd_.reset(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                         nullptr, nullptr));
            if (!wnd_) RaiseLastOSError();
        }
        // Another program may hold it for a moment.
        bool opened = false;
        for (int attempt = 0; attempt < 10 && !opened; ++attempt) {
            opened = ::OpenClipboard(wnd_.get()) != FALSE;
            if (!opened) ::Sleep(20);
        }
        if (!opened) throw Exception("Cannot open clipboard: " + SysErrorMessage(::GetLastError()));
        emptied_ = false;
    }
    ++opens_;
}

void TClipboard::Close() {
    if (opens_ == 0) return;
    if (--opens_ == 0) ::CloseClipboard();
}

void TClipboard::Clear() {
    Session s(*this);
    ::EmptyClipboard();
    emptied_ = true;
}

void TClipboard::SetData(UINT format, GlobalMem data) {
    if (!emptied_) Clear();
    if (!::SetClipboardData(format, data.get())) RaiseLastOSError();
    data.release();
}

namespace {
GlobalMem Alloc(size_t size) {
    GlobalMem mem(::GlobalAlloc(GMEM_MOVEABLE, size));
    if (!mem) throw Exception("Out of memory");
    return mem;
}

// The bytes of the colour masks and table that follow the header.
size_t ExtraBytes(const BITMAPINFOHEADER& h) {
    // Larger headers hold the masks themselves.
    size_t extra = h.biCompression == BI_BITFIELDS && h.biSize == sizeof h ? 3 * sizeof(DWORD) : 0;
    if (h.biBitCount <= 8)
        extra += (h.biClrUsed ? h.biClrUsed : 1u << h.biBitCount) * sizeof(RGBQUAD);
    return extra;
}
}  // namespace

void TClipboard::Assign(TBitmap& bitmap) {
    // Nothing to put: what the clipboard holds is worth more than nothing.
    if (bitmap.Empty()) return;
    Session s(*this);
    DibHeader info;
    const size_t head = DescribeDib(bitmap, info);
    const size_t pixels = info.header.biSizeImage;
    GlobalMem mem = Alloc(head + pixels);
    {
        GlobalLock p(mem.get());
        auto* out = static_cast<uint8_t*>(p.get());
        std::memcpy(out, &info, head);
        ::GdiFlush();
        std::memcpy(out + head, bitmap.ConstBits(), pixels);
    }
    SetData(CF_DIB, std::move(mem));
}

bool TClipboard::GetBitmap(TBitmap& bitmap) {
    Session s(*this);
    HGLOBAL data = ::GetClipboardData(CF_DIB);
    if (!data) return false;
    const size_t size = ::GlobalSize(data);
    GlobalLock p(data);
    const auto* h = static_cast<const BITMAPINFOHEADER*>(p.get());
    if (!h || size < sizeof *h || h->biSize < sizeof *h || h->biWidth <= 0 || h->biHeight == 0 ||
        h->biBitCount == 0 ||
        (h->biCompression != BI_RGB && h->biCompression != BI_BITFIELDS) || h->biClrUsed > 256)
        return false;
    const int width = h->biWidth, height = h->biHeight < 0 ? -h->biHeight : h->biHeight;
    const uint64_t stride = ((static_cast<uint64_t>(width) * h->biBitCount + 31) / 32) * 4;
    const size_t head = h->biSize + ExtraBytes(*h);
    if (size < head || (size - head) / stride < static_cast<uint64_t>(height)) return false;
    TPixelFormat format;
    switch (h->biBitCount) {
        case 1: format = pf1bit; break;
        case 4: format = pf4bit; break;
        case 8: format = pf8bit; break;
        case 16: {
            const auto* masks = reinterpret_cast<const DWORD*>(h + 1);
            format = h->biCompression == BI_BITFIELDS && masks[1] == 0x07E0 ? pf16bit : pf15bit;
            break;
        }
        case 24: format = pf24bit; break;
        case 32: format = pf32bit; break;
        default: return false;
    }
    const auto* bytes = static_cast<const uint8_t*>(p.get());
    TBitmap picture(width, height, format);
    {
        TCanvas::Lease dc(picture.Canvas());
        if (h->biBitCount <= 8)
            ::SetDIBColorTable(dc.get(), 0, h->biClrUsed ? h->biClrUsed : 1u << h->biBitCount,
                               reinterpret_cast<const RGBQUAD*>(bytes + h->biSize));
        ::SetDIBitsToDevice(dc.get(), 0, 0, width, height, 0, 0, 0, height, bytes + head,
                            reinterpret_cast<const BITMAPINFO*>(h), DIB_RGB_COLORS);
    }
    bitmap.Assign(picture);
    return true;
}

void TClipboard::SetAsText(const std::string& text) {
    Session s(*this);
    GlobalMem mem = Alloc(text.size() + 1);
    {
        GlobalLock p(mem.get());
        std::memcpy(p.get(), text.c_str(), text.size() + 1);
    }
    SetData(CF_TEXT, std::move(mem));
}

std::string TClipboard::AsText() {
    Session s(*this);
    HGLOBAL data = ::GetClipboardData(CF_TEXT);
    if (!data) return std::string();
    GlobalLock p(data);
    if (!p.get()) return std::string();
    const char* text = static_cast<const char*>(p.get());
    return std::string(text, strnlen(text, ::GlobalSize(data)));
}

}  // namespace ui
