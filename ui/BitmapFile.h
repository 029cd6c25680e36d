// Bitmap files: the picture written as a bitmap file (to a writer, a stream
// or a memory stream) and read back from one this program wrote.
#pragma once

#include "ui/Bitmap.h"

#include <objidl.h>

#include <cstddef>
#include <functional>
#include <string>

namespace ui {

// The same for a bitmap as it is, with its own colour table; the size of
// the header with what follows it, where a packed DIB's pixels start.
size_t DescribeDib(TBitmap& bitmap, DibHeader& info);
// Hands a complete bitmap file ("BM" header, info header, masks or colour
// table, pixel rows) of the bitmap at its own pixel format to `write`, in
// three pieces, the pixels straight from the bitmap.
using TBitmapFileWriter = std::function<void(const void* data, size_t size)>;
void WriteBitmapFile(TBitmap& bitmap, const TBitmapFileWriter& write);
// The same into a stream at its current position. Raises EOleSysError when
// the stream refuses.
void SaveBitmapToStream(TBitmap& bitmap, IStream* stream);
// Reads a bitmap file as WriteBitmapFile makes them, at its own pixel
// format and colours; raises, naming the file, for anything else.
void LoadBitmapFile(const std::wstring& path, TBitmap& bitmap);
// A new stream over global memory that holds the bitmap file, positioned at
// its start and freed with its last reference.
ComPtr<IStream> BitmapFileStream(TBitmap& bitmap);

}  // namespace ui
