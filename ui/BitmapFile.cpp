#include "ui/BitmapFile.h"

#include "ui/Exception.h"

namespace ui {

size_t DescribeDib(TBitmap& bitmap, DibHeader& info) {
    const int bpp = BitsPerPixel(bitmap.PixelFormat());
    FillDibHeader(info, bitmap.Width(), bitmap.Height(), bpp);
    if (bpp <= 8 && !bitmap.Empty()) {
        TCanvas::Lease dc(bitmap.Canvas(), true);
        info.header.biClrUsed = ::GetDIBColorTable(dc.get(), 0, 256, info.colors);
    }
    info.header.biSizeImage = static_cast<DWORD>(static_cast<size_t>(bitmap.Stride()) * bitmap.Height());
    size_t extra = info.header.biCompression == BI_BITFIELDS ? 3 * sizeof(DWORD) : 0;
    if (bpp <= 8) extra += info.header.biClrUsed * sizeof(RGBQUAD);
    return sizeof info.header + extra;
}

void WriteBitmapFile(TBitmap& bitmap, const TBitmapFileWriter& write) {
    if (bitmap.Empty()) throw Exception("Cannot save an empty picture");
    DibHeader info;
    const size_t head = DescribeDib(bitmap, info);
    const size_t pixels = info.header.biSizeImage;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = static_cast<DWORD>(sizeof file + head);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels);
    write(&file, sizeof file);
    write(&info, head);
    ::GdiFlush();
    write(bitmap.ConstBits(), pixels);
}

void SaveBitmapToStream(TBitmap& bitmap, IStream* stream) {
    if (bitmap.Empty()) throw Exception("Cannot save an empty picture");
    // One allocation for the whole file: a memory stream grown write by
    // write would copy the picture again.
    ULARGE_INTEGER pos{}, size{};
    LARGE_INTEGER zero{};
    OleCheck(stream->Seek(zero, STREAM_SEEK_CUR, &pos), "Cannot write the picture");
    DibHeader info;
    size.QuadPart = pos.QuadPart + sizeof(BITMAPFILEHEADER) + DescribeDib(bitmap, info) +
                    info.header.biSizeImage;
    OleCheck(stream->SetSize(size), "Cannot write the picture");
    WriteBitmapFile(bitmap, [&](const void* p, size_t n) {
        ULONG done = 0;
        OleCheck(stream->Write(p, static_cast<ULONG>(n), &done), "Cannot write the picture");
        if (done != n) OleCheck(STG_E_MEDIUMFULL, "Cannot write the picture");
    });
}

void LoadBitmapFile(const std::wstring& path, TBitmap& bitmap) {
    const std::string what = "Cannot read the picture " + Quoted(path);
    FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) throw Exception(what + ". " + SysErrorMessage(::GetLastError()));
    auto read = [&](void* p, size_t n) {
        DWORD done = 0;
        if (!::ReadFile(file.get(), p, static_cast<DWORD>(n), &done, nullptr))
            throw Exception(what + ". " + SysErrorMessage(::GetLastError()));
        if (done != n) throw Exception(what + ": the file is cut short");
    };
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) throw Exception(what + ". " + SysErrorMessage(::GetLastError()));
    BITMAPFILEHEADER fh{};
    DibHeader info{};
    if (size.QuadPart < static_cast<LONGLONG>(sizeof fh + sizeof info.header))
        throw Exception(what + ": it is no bitmap file");
    read(&fh, sizeof fh);
    read(&info.header, sizeof info.header);
    const BITMAPINFOHEADER& h = info.header;
    // Only the forms this program writes: anything else is damage.
    TPixelFormat format = pfDevice;
    switch (h.biBitCount) {
        case 1: format = pf1bit; break;
        case 4: format = pf4bit; break;
        case 8: format = pf8bit; break;
        case 16: format = h.biCompression == BI_BITFIELDS ? pf16bit : pf15bit; break;
        case 24: format = pf24bit; break;
        case 32: format = pf32bit; break;
        default: break;
    }
    const bool bitfields = h.biCompression == BI_BITFIELDS;
    const DWORD colors = h.biBitCount <= 8 ? (h.biClrUsed ? h.biClrUsed : 1u << h.biBitCount) : 0;
    const long long width = h.biWidth, height = h.biHeight;
    if (fh.bfType != 0x4D42 || h.biSize != sizeof h || h.biPlanes != 1 || format == pfDevice ||
        (h.biCompression != BI_RGB && !(bitfields && h.biBitCount == 16)) || width <= 0 ||
        height <= 0 || width > 0x7FFF || height > 0x7FFF || colors > (1u << (h.biBitCount & 15)))
        throw Exception(what + ": it is no picture of this program");
    const long long stride = ((width * (h.biBitCount) + 31) / 32) * 4;
    const long long head = sizeof fh + sizeof h + (bitfields ? 12 : 0) + 4LL * colors;
    if (fh.bfOffBits != head || size.QuadPart < head + stride * height)
        throw Exception(what + ": the file is cut short");
    if (bitfields) {
        DWORD masks[3];
        read(masks, sizeof masks);
        if (masks[0] != 0xF800 || masks[1] != 0x07E0 || masks[2] != 0x001F)
            throw Exception(what + ": it is no picture of this program");
    }
    if (colors) read(info.colors, colors * sizeof(RGBQUAD));
    TBitmap loaded(static_cast<int>(width), static_cast<int>(height), format);
    read(loaded.Bits(), static_cast<size_t>(stride * height));
    if (colors) {
        TCanvas::Lease dc(loaded.Canvas());
        ::SetDIBColorTable(dc.get(), 0, colors, info.colors);
    }
    bitmap.Assign(loaded);
}

ComPtr<IStream> BitmapFileStream(TBitmap& bitmap) {
    // Memory streams must be over movable memory to grow.
    GlobalMem block(::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10));
    if (!block) throw Exception("Out of memory");
    ComPtr<IStream> stream;
    OleCheck(::CreateStreamOnHGlobal(block.get(), TRUE, stream.put()),
             "Cannot create the picture stream");
    block.release();
    ULARGE_INTEGER empty{};
    OleCheck(stream->SetSize(empty), "Cannot create the picture stream");
    SaveBitmapToStream(bitmap, stream.get());
    LARGE_INTEGER start{};
    OleCheck(stream->Seek(start, STREAM_SEEK_SET, nullptr), "Cannot write the picture");
    return stream;
}

}  // namespace ui
