// Colour reduction: a picture's pixels re-encoded in a format that holds
// fewer colours, as pixel arithmetic alone, so that it runs and can be
// checked without a window or a device context. Pixels come as 0x00RRGGBB,
// rows bottom-up as in a DIB; they go out as the format's packed rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ui {

// The channels of a 0x00RRGGBB pixel, and one made of them.
namespace pixel {
inline int Red(uint32_t c) { return static_cast<int>(c >> 16 & 0xFF); }
inline int Green(uint32_t c) { return static_cast<int>(c >> 8 & 0xFF); }
inline int Blue(uint32_t c) { return static_cast<int>(c & 0xFF); }
inline uint32_t Pack(int r, int g, int b) {
    return static_cast<uint32_t>(r) << 16 | static_cast<uint32_t>(g) << 8 | static_cast<uint32_t>(b);
}
}  // namespace pixel

// A picture's rows of 0x??RRGGBB pixels, bottom-up, `pitch` pixels apart;
// the top byte is not looked at, so that a 32-bit DIB is read in place.
struct TPixelRows {
    const uint32_t* first = nullptr;
    std::ptrdiff_t pitch = 0;
    const uint32_t* operator[](int y) const { return first + y * pitch; }
};

// How a picture is re-encoded in a format that holds fewer colours than it
// has.
struct TColorReduction {
    // A table of the picture's own colours when they fit, else one made for
    // them; or the format's fixed table.
    bool adaptive = true;
    // Each pixel's rounding error goes on to its neighbours, so gradients
    // keep their shades instead of turning into bands.
    bool diffuse = true;
    // Except inside areas of one colour, which would turn to grain.
    bool keepFlatAreas = true;
};

// The 8-bit value of every 5- and 6-bit channel level as the platform shows
// it, and the nearest level of every 8-bit value.
struct HighColorLevels {
    uint8_t wide5[32], wide6[64], narrow5[256], narrow6[256];
};
// The levels widened by repeating their top bits, which is how most
// platforms show them.
HighColorLevels WidenedHighColorLevels();
// Fills the nearest levels from the 8-bit values of the levels.
void NarrowHighColorLevels(HighColorLevels& levels);

// The fixed table of a format of 1, 4 or 8 bits: black and white; the 16
// standard colours; or the static colours at both ends, a grey ramp and a
// colour cube, entry i the inverse of entry 255 - i. `statics` are the
// system's 20 static colours; without them their entries stay black.
std::vector<uint32_t> FixedColorTable(int bpp, const uint32_t* statics);

// Re-encodes the pixels as rows of table indices of 1, 4 or 8 bits,
// `stride` bytes apart, and gives back the table (1 << bpp entries). The
// fixed table is the format's, taken when the reduction is not adaptive and
// to complete a table made for the picture.
std::vector<uint32_t> ReduceToIndexed(TPixelRows pixels, int width, int height, int bpp,
                                      const std::vector<uint32_t>& fixedTable,
                                      const TColorReduction& how, uint8_t* rows, int stride);
// Re-encodes the pixels as rows of 15-bit (5-5-5) or 16-bit (5-6-5) codes,
// `stride` bytes apart, each channel at the level the platform shows
// nearest.
void ReduceToHighColor(TPixelRows pixels, int width, int height, int bpp,
                       const HighColorLevels& levels, const TColorReduction& how, uint8_t* rows,
                       int stride);

// The same of pixels held row after row.
inline std::vector<uint32_t> ReduceToIndexed(const std::vector<uint32_t>& pixels, int width,
                                             int height, int bpp,
                                             const std::vector<uint32_t>& fixedTable,
                                             const TColorReduction& how, uint8_t* rows, int stride) {
    return ReduceToIndexed(TPixelRows{pixels.data(), width}, width, height, bpp, fixedTable, how,
                           rows, stride);
}
inline void ReduceToHighColor(const std::vector<uint32_t>& pixels, int width, int height, int bpp,
                              const HighColorLevels& levels, const TColorReduction& how,
                              uint8_t* rows, int stride) {
    ReduceToHighColor(TPixelRows{pixels.data(), width}, width, height, bpp, levels, how, rows,
                      stride);
}

}  // namespace ui
