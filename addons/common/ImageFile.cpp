#include "addons/common/ImageFile.h"

#include "ui/Exception.h"
#include "ui/Handles.h"
#include "ui/Strings.h"

#include <wincodec.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace ui;

namespace addons {

namespace {

struct FormatInfo {
    const wchar_t* name;
    const wchar_t* extension;
    const GUID* container;
};
const FormatInfo kFormats[kImageFormatCount] = {
    {L"PNG", L".png", &GUID_ContainerFormatPng},   {L"JPEG", L".jpg", &GUID_ContainerFormatJpeg},
    {L"BMP", L".bmp", &GUID_ContainerFormatBmp},   {L"GIF", L".gif", &GUID_ContainerFormatGif},
    {L"TIFF", L".tif", &GUID_ContainerFormatTiff},
};

const FormatInfo& Info(TImageFormat format) {
    int i = static_cast<int>(format);
    return kFormats[i >= 0 && i < kImageFormatCount ? i : 0];
}

ComPtr<IWICImagingFactory> Imaging() {
    ComPtr<IWICImagingFactory> factory;
    OleCheck(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory.put_void()),
             "Cannot start the Windows imaging component");
    return factory;
}

template <class T>
ComPtr<IWICBitmapSource> AsSource(const ComPtr<T>& p) {
    return ComPtr<IWICBitmapSource>::Copy(p.get());
}

const char* const kDecodeFailed = kPictureUnreadable;

[[noreturn]] void Unreadable(const std::string& reason) {
    throw EOleSysError(std::string(kPictureUnreadable) + ": " + reason + ".", E_INVALIDARG);
}

// The decoded picture, held in memory so that the file's bytes may go.
ComPtr<IWICBitmapSource> Decode(IWICImagingFactory* wic, const TBitmapFile& file) {
    ComPtr<IWICStream> stream;
    OleCheck(wic->CreateStream(stream.put()), kDecodeFailed);
    OleCheck(stream->InitializeFromMemory(const_cast<BYTE*>(file.Data()),
                                          static_cast<DWORD>(file.Size())),
             kDecodeFailed);
    ComPtr<IWICBitmapDecoder> decoder;
    OleCheck(wic->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                          decoder.put()),
             kDecodeFailed);
    ComPtr<IWICBitmapFrameDecode> frame;
    OleCheck(decoder->GetFrame(0, frame.put()), kDecodeFailed);
    // The pixels are read by the file's size further on.
    UINT frameWidth = 0, frameHeight = 0;
    OleCheck(frame->GetSize(&frameWidth, &frameHeight), kDecodeFailed);
    if (frameWidth != file.Width() || frameHeight != file.Height())
        Unreadable("its decoder sees another size than its header gives");
    WICPixelFormatGUID format;
    OleCheck(frame->GetPixelFormat(&format), kDecodeFailed);
    // The frame reads the file's memory, which outlives the encoding.
    if (format != GUID_WICPixelFormat32bppBGRA) return AsSource(frame);
    ComPtr<IWICBitmap> bitmap;
    OleCheck(wic->CreateBitmapFromSource(frame.get(), WICBitmapCacheOnLoad, bitmap.put()),
             kDecodeFailed);
    // A screen picture's fourth byte is padding, not transparency: when it
    // is zero throughout, the picture is opaque.
    UINT w = 0, h = 0;
    bitmap->GetSize(&w, &h);
    WICRect all = {0, 0, static_cast<INT>(w), static_cast<INT>(h)};
    ComPtr<IWICBitmapLock> lock;
    OleCheck(bitmap->Lock(&all, WICBitmapLockRead, lock.put()), kDecodeFailed);
    UINT size = 0, stride = 0;
    BYTE* data = nullptr;
    OleCheck(lock->GetDataPointer(&size, &data), kDecodeFailed);
    lock->GetStride(&stride);
    for (UINT y = 0; y < h; ++y)
        for (UINT x = 0; x < w; ++x)
            if (data[y * stride + x * 4 + 3]) return AsSource(bitmap);
    ComPtr<IWICBitmap> opaque;
    OleCheck(wic->CreateBitmapFromMemory(w, h, GUID_WICPixelFormat32bppBGR, stride, size, data,
                                         opaque.put()),
             kDecodeFailed);
    return AsSource(opaque);
}

bool IsIndexed(const WICPixelFormatGUID& f) {
    return f == GUID_WICPixelFormat1bppIndexed || f == GUID_WICPixelFormat2bppIndexed ||
           f == GUID_WICPixelFormat4bppIndexed || f == GUID_WICPixelFormat8bppIndexed;
}

bool IsTrueColour(const WICPixelFormatGUID& f) {
    return f == GUID_WICPixelFormat24bppBGR || f == GUID_WICPixelFormat32bppBGR ||
           f == GUID_WICPixelFormat32bppBGRA;
}

// The picture in another pixel format. Wine converts to 24-bit and indexed
// formats only from 24- and 32-bit ones, so any other picture goes through
// 32 bits with alpha first, which loses nothing; Windows takes either path.
ComPtr<IWICBitmapSource> Converted(IWICBitmapSource* source, const WICPixelFormatGUID& to,
                                   const std::string& failed) {
    WICPixelFormatGUID have;
    OleCheck(source->GetPixelFormat(&have), failed);
    ComPtr<IWICBitmapSource> from = ComPtr<IWICBitmapSource>::Copy(source);
    if (have == to) return from;
    ComPtr<IWICBitmapSource> converted;
    if (!IsTrueColour(have) && to != GUID_WICPixelFormat32bppBGR &&
        to != GUID_WICPixelFormat32bppBGRA) {
        OleCheck(::WICConvertBitmapSource(GUID_WICPixelFormat32bppBGRA, source, converted.put()),
                 failed);
        from = converted;
    }
    OleCheck(::WICConvertBitmapSource(to, from.get(), converted.put()), failed);
    return converted;
}

// The picture as an 8-bit indexed bitmap with exactly its colours, or null
// when it has more than 256.
// The rows of a plain 32-bit bitmap file, read where they lie: the top row
// and the step from one row to the next. False for any other kind.
bool FilePixels(const TBitmapFile& file, const BYTE*& top, ptrdiff_t& step) {
    if (file.BitCount() != 32 || !file.Plain()) return false;
    const BYTE* bits = file.Data() + file.PixelOffset();
    const ptrdiff_t stride = static_cast<ptrdiff_t>(file.Stride());
    top = file.TopDown() ? bits : bits + static_cast<ptrdiff_t>(file.Height() - 1) * stride;
    step = file.TopDown() ? stride : -stride;
    return true;
}

// The picture as an 8-bit indexed bitmap with exactly its colours, or null
// when it has more than 256.
ComPtr<IWICBitmapSource> IndexedIfFewColours(IWICImagingFactory* wic, IWICBitmapSource* source,
                                             const TBitmapFile& file, const std::string& failed) {
    UINT w = 0, h = 0;
    OleCheck(source->GetSize(&w, &h), failed);
    // A screen picture's pixels are read in the file itself; other depths
    // through a 32-bit copy.
    const BYTE* data = nullptr;
    ptrdiff_t step = 0;
    ComPtr<IWICBitmap> bitmap;
    ComPtr<IWICBitmapLock> lock;
    if (!FilePixels(file, data, step)) {
        ComPtr<IWICBitmapSource> bgr = Converted(source, GUID_WICPixelFormat32bppBGR, failed);
        OleCheck(wic->CreateBitmapFromSource(bgr.get(), WICBitmapCacheOnLoad, bitmap.put()),
                 failed);
        WICRect all = {0, 0, static_cast<INT>(w), static_cast<INT>(h)};
        OleCheck(bitmap->Lock(&all, WICBitmapLockRead, lock.put()), failed);
        UINT size = 0, stride = 0;
        BYTE* locked = nullptr;
        OleCheck(lock->GetDataPointer(&size, &locked), failed);
        OleCheck(lock->GetStride(&stride), failed);
        data = locked;
        step = stride;
    }

    // Open addressing over 1024 slots; runs of one colour skip the look-up.
    UINT32 keys[1024];
    BYTE slots[1024];
    bool used[1024] = {};
    WICColor colours[256];
    UINT count = 0;
    std::unique_ptr<BYTE[]> indices(new BYTE[static_cast<size_t>(w) * h]);
    UINT32 last = 0xFFFFFFFF;
    BYTE lastIndex = 0;
    for (UINT y = 0; y < h; ++y) {
        const UINT32* row = reinterpret_cast<const UINT32*>(data + static_cast<ptrdiff_t>(y) * step);
        BYTE* out = indices.get() + static_cast<size_t>(y) * w;
        for (UINT x = 0; x < w; ++x) {
            UINT32 v = row[x] & 0xFFFFFF;
            if (v != last) {
                UINT slot = (v * 2654435761u) >> 22;
                while (used[slot] && keys[slot] != v) slot = (slot + 1) & 1023;
                if (!used[slot]) {
                    if (count == 256) return {};
                    used[slot] = true;
                    keys[slot] = v;
                    slots[slot] = static_cast<BYTE>(count);
                    colours[count++] = 0xFF000000 | v;
                }
                last = v;
                lastIndex = slots[slot];
            }
            out[x] = lastIndex;
        }
    }
    lock.reset();
    ComPtr<IWICPalette> palette;
    OleCheck(wic->CreatePalette(palette.put()), failed);
    OleCheck(palette->InitializeCustom(colours, count), failed);
    ComPtr<IWICBitmap> indexed;
    OleCheck(wic->CreateBitmapFromMemory(w, h, GUID_WICPixelFormat8bppIndexed, w, w * h,
                                         indices.get(), indexed.put()),
             failed);
    OleCheck(indexed->SetPalette(palette.get()), failed);
    return AsSource(indexed);
}

// More than 256 colours for a GIF: the best 256 the platform finds.
ComPtr<IWICBitmapSource> Reduced(IWICImagingFactory* wic, IWICBitmapSource* source,
                                 const std::string& failed) {
    ComPtr<IWICPalette> palette;
    OleCheck(wic->CreatePalette(palette.put()), failed);
    OleCheck(palette->InitializeFromBitmap(source, 256, FALSE), failed);
    ComPtr<IWICFormatConverter> converter;
    OleCheck(wic->CreateFormatConverter(converter.put()), failed);
    OleCheck(converter->Initialize(source, GUID_WICPixelFormat8bppIndexed,
                                   WICBitmapDitherTypeErrorDiffusion, palette.get(), 0.0,
                                   WICBitmapPaletteTypeCustom),
             failed);
    return AsSource(converter);
}

std::vector<BYTE> Encode(IWICImagingFactory* wic, IWICBitmapSource* picture, TImageFormat format,
                         int jpegQuality, const std::string& failed) {
    ComPtr<IWICBitmapSource> source = ComPtr<IWICBitmapSource>::Copy(picture);
    ComPtr<IStream> out;
    OleCheck(::CreateStreamOnHGlobal(nullptr, TRUE, out.put()), failed);
    ComPtr<IWICBitmapEncoder> encoder;
    OleCheck(wic->CreateEncoder(*Info(format).container, nullptr, encoder.put()), failed);
    OleCheck(encoder->Initialize(out.get(), WICBitmapEncoderNoCache), failed);
    ComPtr<IWICBitmapFrameEncode> frame;
    ComPtr<IPropertyBag2> options;
    OleCheck(encoder->CreateNewFrame(frame.put(), options.put()), failed);
    // Wine's encoder (8.0) takes the option and ignores it: its files have
    // libjpeg's default quality of 75 whatever is asked.
    if (format == TImageFormat::Jpeg && options) {
        PROPBAG2 option = {};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        ::VariantInit(&value);
        V_VT(&value) = VT_R4;
        V_R4(&value) = static_cast<float>(jpegQuality < 1 ? 1 : jpegQuality > 100 ? 100 : jpegQuality) / 100.0f;
        OleCheck(options->Write(1, &option, &value), "Cannot set the JPEG quality");
    }
    WICPixelFormatGUID have, take;
    OleCheck(source->GetPixelFormat(&have), failed);
    // A screen picture repeats itself from row to row far more than along
    // a row, and its palette indices mean nothing to arithmetic: the "up"
    // filter alone compresses it best. The option is a hint; an encoder
    // without it is no failure.
    if (format == TImageFormat::Png && IsIndexed(have) && options) {
        PROPBAG2 option = {};
        option.pstrName = const_cast<LPOLESTR>(L"FilterOption");
        VARIANT value;
        ::VariantInit(&value);
        V_VT(&value) = VT_UI1;
        V_UI1(&value) = WICPngFilterUp;
        options->Write(1, &option, &value);
    }
    OleCheck(frame->Initialize(options.get()), failed);
    UINT w = 0, h = 0;
    OleCheck(source->GetSize(&w, &h), failed);
    OleCheck(frame->SetSize(w, h), failed);
    frame->SetResolution(96.0, 96.0);
    // JPEG holds colour as 24 bits, the one such format its encoders take
    // everywhere; the others are asked for the picture's own.
    take = format == TImageFormat::Jpeg ? GUID_WICPixelFormat24bppBGR : have;
    OleCheck(frame->SetPixelFormat(&take), failed);
    if (take != have) source = Converted(source.get(), take, failed);
    if (IsIndexed(take)) {
        ComPtr<IWICPalette> palette;
        OleCheck(wic->CreatePalette(palette.put()), failed);
        OleCheck(source->CopyPalette(palette.get()), failed);
        OleCheck(frame->SetPalette(palette.get()), failed);
    }
    OleCheck(frame->WriteSource(source.get(), nullptr), failed);
    OleCheck(frame->Commit(), failed);
    OleCheck(encoder->Commit(), failed);

    STATSTG stat = {};
    OleCheck(out->Stat(&stat, STATFLAG_NONAME), failed);
    HGLOBAL memory = nullptr;
    OleCheck(::GetHGlobalFromStream(out.get(), &memory), failed);
    ui::GlobalLock lock(memory);
    if (!lock.get()) RaiseLastOSError();
    const BYTE* data = static_cast<const BYTE*>(lock.get());
    std::vector<BYTE> bytes(data, data + stat.cbSize.LowPart);
    // Some encoders leave the colour table out of the file header's size,
    // which readers then take for a cut-off file.
    if (format == TImageFormat::Bmp && bytes.size() >= sizeof(BITMAPFILEHEADER)) {
        DWORD size = static_cast<DWORD>(bytes.size());
        memcpy(bytes.data() + offsetof(BITMAPFILEHEADER, bfSize), &size, sizeof size);
    }
    return bytes;
}

}  // namespace

const wchar_t* FormatName(TImageFormat format) { return Info(format).name; }
const wchar_t* FormatExtension(TImageFormat format) { return Info(format).extension; }

namespace {
template <class T>
T Field(const BYTE* at) {
    T value;
    memcpy(&value, at, sizeof value);
    return value;
}

const UINT64 kMaxColours = 256;
// Headers, masks, a full colour table and the largest picture at 32 bits.
const UINT64 kMaxFileBytes = kMaxPicturePixels * 4 + 4 * kMaxPictureSide + 4096;
}  // namespace

TBitmapFile::TBitmapFile(IUnknown* ImageStream) {
    ComPtr<IStream> stream;
    if (!ImageStream || FAILED(ImageStream->QueryInterface(IID_IStream, stream.put_void())) ||
        !stream)
        throw EOleSysError(
            std::string(kPictureUnreadable) + ": it was not handed over as a stream.",
            E_INVALIDARG);
    STATSTG stat = {};
    LARGE_INTEGER zero = {};
    ULARGE_INTEGER position = {};
    HGLOBAL global = nullptr;
    if (SUCCEEDED(::GetHGlobalFromStream(stream.get(), &global)) &&
        SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) &&
        SUCCEEDED(stream->Seek(zero, STREAM_SEEK_CUR, &position)) &&
        position.QuadPart <= stat.cbSize.QuadPart && stat.cbSize.QuadPart <= ::GlobalSize(global)) {
        lock_.emplace(global);
        if (const BYTE* base = static_cast<const BYTE*>(lock_->get())) {
            stream_ = stream;
            data_ = base + position.QuadPart;
            size_ = static_cast<size_t>(stat.cbSize.QuadPart - position.QuadPart);
        } else {
            lock_.reset();
        }
    }
    if (!data_) {
        // Any other stream may claim any size or never end: it is read in
        // pieces up to what a picture can take.
        if (SUCCEEDED(stream->Stat(&stat, STATFLAG_NONAME)) &&
            stat.cbSize.QuadPart <= kMaxFileBytes)
            copy_.reserve(static_cast<size_t>(stat.cbSize.QuadPart));
        BYTE buffer[65536];
        for (;;) {
            ULONG got = 0;
            HRESULT hr = stream->Read(buffer, sizeof buffer, &got);
            if (FAILED(hr)) OleCheck(hr, std::string(kPictureUnreadable) + " from its stream");
            if (got > sizeof buffer || copy_.size() + got > kMaxFileBytes)
                Unreadable("its stream is longer than the largest picture taken");
            copy_.insert(copy_.end(), buffer, buffer + got);
            if (got == 0 || hr == S_FALSE) break;
        }
        data_ = copy_.data();
        size_ = copy_.size();
    }
    CheckHeaders();
}

// Every size and offset is worked out in 64 bits from fields that are each
// at most 32 bits wide, so nothing wraps.
void TBitmapFile::CheckHeaders() {
    const UINT64 size = size_;
    const BYTE* d = data_;
    const UINT64 fileHeader = sizeof(BITMAPFILEHEADER);
    if (size < fileHeader + sizeof(DWORD) || d[0] != 'B' || d[1] != 'M')
        Unreadable("it is not a Windows bitmap file");
    const UINT64 pixelOffset = Field<DWORD>(d + offsetof(BITMAPFILEHEADER, bfOffBits));
    const BYTE* h = d + fileHeader;
    const UINT64 headerSize = Field<DWORD>(h);
    const bool core = headerSize == sizeof(BITMAPCOREHEADER);
    if (!core && headerSize != sizeof(BITMAPINFOHEADER) && headerSize != 52 && headerSize != 56 &&
        headerSize != sizeof(BITMAPV4HEADER) && headerSize != sizeof(BITMAPV5HEADER))
        Unreadable("its header size of " + std::to_string(headerSize) +
                   " bytes is not one of a bitmap's");
    if (fileHeader + headerSize > size) Unreadable("the file ends inside its header");

    INT64 width = 0, height = 0;
    UINT64 planes = 0, bits = 0, compression = BI_RGB, colours = 0;
    if (core) {
        width = Field<WORD>(h + offsetof(BITMAPCOREHEADER, bcWidth));
        height = Field<WORD>(h + offsetof(BITMAPCOREHEADER, bcHeight));
        planes = Field<WORD>(h + offsetof(BITMAPCOREHEADER, bcPlanes));
        bits = Field<WORD>(h + offsetof(BITMAPCOREHEADER, bcBitCount));
    } else {
        width = Field<LONG>(h + offsetof(BITMAPINFOHEADER, biWidth));
        height = Field<LONG>(h + offsetof(BITMAPINFOHEADER, biHeight));
        planes = Field<WORD>(h + offsetof(BITMAPINFOHEADER, biPlanes));
        bits = Field<WORD>(h + offsetof(BITMAPINFOHEADER, biBitCount));
        compression = Field<DWORD>(h + offsetof(BITMAPINFOHEADER, biCompression));
        colours = Field<DWORD>(h + offsetof(BITMAPINFOHEADER, biClrUsed));
    }
    if (planes != 1) Unreadable("it has " + std::to_string(planes) + " colour planes instead of 1");
    bool depthKnown =
        bits == 1 || bits == 4 || bits == 8 || bits == 24 || (!core && (bits == 16 || bits == 32));
    if (!depthKnown)
        Unreadable("its depth of " + std::to_string(bits) + " bits per pixel is not one it takes");

    UINT64 tableStart = fileHeader + headerSize;
    if (compression == BI_BITFIELDS) {
        if (bits != 16 && bits != 32)
            Unreadable("it has colour masks at " + std::to_string(bits) + " bits per pixel");
        // After a plain information header the masks follow it; later
        // headers hold them.
        if (headerSize == sizeof(BITMAPINFOHEADER)) {
            if (tableStart + 3 * sizeof(DWORD) > size)
                Unreadable("the file ends inside its colour masks");
            tableStart += 3 * sizeof(DWORD);
        }
        // The layouts the imaging component decodes: 5-5-5 and 5-6-5 at 16
        // bits, 8-8-8 with or without alpha at 32.
        const BYTE* masks = h + sizeof(BITMAPINFOHEADER);
        DWORD red = Field<DWORD>(masks), green = Field<DWORD>(masks + 4),
              blue = Field<DWORD>(masks + 8);
        DWORD alpha = headerSize >= 56 ? Field<DWORD>(masks + 12) : 0;
        bool known = bits == 16 ? alpha == 0 && blue == 0x1F &&
                                      ((red == 0x7C00 && green == 0x3E0) ||
                                       (red == 0xF800 && green == 0x7E0))
                                : red == 0xFF0000 && green == 0xFF00 && blue == 0xFF &&
                                      (alpha == 0 || alpha == 0xFF000000);
        if (!known) Unreadable("its colour masks are not a layout it takes");
    } else if (compression != BI_RGB) {
        Unreadable("its compression (type " + std::to_string(compression) +
                   ") is not one it takes");
    }

    const UINT64 entry = core ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD);
    UINT64 tableCount = colours;
    if (bits <= 8) {
        if (colours > (UINT64(1) << bits))
            Unreadable("its colour table holds more colours than " + std::to_string(bits) +
                       " bits can index");
        if (colours == 0) tableCount = UINT64(1) << bits;
    } else if (colours > kMaxColours) {
        Unreadable("its colour table holds " + std::to_string(colours) + " colours");
    }
    const UINT64 tableEnd = tableStart + tableCount * entry;
    if (tableEnd > size) Unreadable("the file ends inside its colour table");
    if (pixelOffset < tableEnd || pixelOffset > size)
        Unreadable("its pixels are said to start at byte " + std::to_string(pixelOffset) +
                   ", outside the file or inside its headers");

    if (width <= 0 || UINT64(width) > kMaxPictureSide)
        Unreadable("its width of " + std::to_string(width) + " pixels is not from 1 to " +
                   std::to_string(kMaxPictureSide));
    const UINT64 rows = height < 0 ? UINT64(-height) : UINT64(height);
    if (rows == 0 || rows > kMaxPictureSide)
        Unreadable("its height of " + std::to_string(height) + " pixels is not from 1 to " +
                   std::to_string(kMaxPictureSide) + " either way up");
    if (UINT64(width) * rows > kMaxPicturePixels)
        Unreadable("it is larger (" + std::to_string(width) + " x " + std::to_string(rows) +
                   " pixels) than a picture this add-on can hold");
    const UINT64 stride = (UINT64(width) * bits + 31) / 32 * 4;
    if (stride * rows > size - pixelOffset)
        Unreadable("the file ends before its last row of pixels");

    // A short colour table: every pixel must name one of its colours.
    if (bits <= 8 && tableCount < (UINT64(1) << bits)) {
        for (UINT64 y = 0; y < rows; ++y) {
            const BYTE* row = d + pixelOffset + y * stride;
            for (UINT64 x = 0; x < UINT64(width); ++x) {
                UINT64 bit = x * bits;
                unsigned index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= tableCount)
                    Unreadable("a pixel names colour " + std::to_string(index) + " of a table of " +
                               std::to_string(tableCount));
            }
        }
    }

    width_ = static_cast<UINT>(width);
    height_ = static_cast<UINT>(rows);
    bitCount_ = static_cast<int>(bits);
    plain_ = compression == BI_RGB;
    topDown_ = height < 0;
    pixelOffset_ = static_cast<size_t>(pixelOffset);
    stride_ = static_cast<size_t>(stride);
}

std::vector<BYTE> EncodePicture(const TBitmapFile& bitmapFile, TImageFormat format,
                                int jpegQuality) {
    const std::string failed = "Cannot encode the " + std::to_string(bitmapFile.BitCount()) +
                               "-bit picture as " + Utf8(FormatName(format));
    ComPtr<IWICImagingFactory> wic = Imaging();
    ComPtr<IWICBitmapSource> picture = Decode(wic.get(), bitmapFile);
    WICPixelFormatGUID have;
    OleCheck(picture->GetPixelFormat(&have), failed);
    // GIF holds 8-bit indices alone, PNG any: fewer colours take exactly
    // theirs.
    if ((format == TImageFormat::Png && !IsIndexed(have)) ||
        (format == TImageFormat::Gif && have != GUID_WICPixelFormat8bppIndexed)) {
        if (ComPtr<IWICBitmapSource> indexed =
                IndexedIfFewColours(wic.get(), picture.get(), bitmapFile, failed))
            picture = indexed;
        else if (format == TImageFormat::Gif)
            picture = Reduced(
                wic.get(), Converted(picture.get(), GUID_WICPixelFormat32bppBGR, failed).get(),
                failed);
    }
    // A TIFF colour map holds 16-bit values, which encoders and readers
    // scale differently (255 may come back as 254): true colour is exact.
    if (format == TImageFormat::Tiff && IsIndexed(have))
        picture = Converted(picture.get(), GUID_WICPixelFormat32bppBGR, failed);
    return Encode(wic.get(), picture.get(), format, jpegQuality, failed);
}

}  // namespace addons
