// Pictures out of the wizard's bitmap-file stream into image files: decoding
// and encoding through the platform's imaging component (WIC).
#pragma once

#include <windows.h>
#include <ole2.h>

#include "ui/Handles.h"

#include <optional>
#include <string>
#include <vector>

namespace addons {

enum class TImageFormat { Png = 0, Jpeg, Bmp, Gif, Tiff };
inline constexpr int kImageFormatCount = 5;

const wchar_t* FormatName(TImageFormat format);
// With the dot: ".png".
const wchar_t* FormatExtension(TImageFormat format);

// What every message about a picture that is refused begins with.
inline constexpr char kPictureUnreadable[] = "The picture could not be read";

// The largest picture taken, in pixels and per side: a 32-bit program
// cannot hold much more in the few copies encoding makes.
inline constexpr UINT64 kMaxPicturePixels = UINT64(1) << 27;
inline constexpr UINT64 kMaxPictureSide = 65535;

// The bitmap file in the picture's stream, from where the stream stands to
// its end: the stream's own memory when it lives in global memory (as the
// program's does), else a copy read out of it, up to a limit. Every field
// of its headers is checked against the bytes there before anything reads
// the pixels; raises kPictureUnreadable with the reason when the object is
// no stream or the bytes are no bitmap file this reader takes.
class TBitmapFile {
public:
    explicit TBitmapFile(IUnknown* ImageStream);
    TBitmapFile(const TBitmapFile&) = delete;
    TBitmapFile& operator=(const TBitmapFile&) = delete;
    const BYTE* Data() const { return data_; }
    size_t Size() const { return size_; }
    UINT Width() const { return width_; }
    UINT Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    bool Plain() const { return plain_; }
    bool TopDown() const { return topDown_; }
    // Where the rows start and the step from one to the next.
    size_t PixelOffset() const { return pixelOffset_; }
    size_t Stride() const { return stride_; }

private:
    void CheckHeaders();


    // Held while the memory is used, so that it stays where it is.
    ui::ComPtr<IStream> stream_;
    std::optional<ui::GlobalLock> lock_;
    std::vector<BYTE> copy_;
    const BYTE* data_ = nullptr;
    size_t size_ = 0;
    UINT width_ = 0, height_ = 0;
    int bitCount_ = 0;
    bool plain_ = true;  // BI_RGB, not bit fields
    bool topDown_ = false;
    size_t pixelOffset_ = 0, stride_ = 0;
};

// The picture of a bitmap file, encoded. The pixels keep their depth where
// the format can hold it; a picture of at most 256 colours becomes an
// indexed PNG or GIF with exactly its colours (no loss); a GIF of more
// colours is reduced to 256. jpegQuality runs from 1 to 100.
std::vector<BYTE> EncodePicture(const TBitmapFile& bitmapFile, TImageFormat format,
                                int jpegQuality = 90);

}  // namespace addons
