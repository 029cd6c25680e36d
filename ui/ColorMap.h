// The nearest entry of a table of colours for any colour, found in a few
// loads: the look-up of every pixel of an error-diffused picture, each of
// which waits for the one before.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace ui {

// The diffusion works each pixel's channels out in sixteenths, red and
// blue in the two halves of one number and green in another, each half
// offset so that it never goes below zero: a channel whose level after
// rounding down is v is held as kLevel + 16 v + its sixteenths. Errors take
// levels below 0 and above 255, which count as 0 and 255; levels -128 to
// 383 are held as 0x2000 to 0x3FFF.
constexpr uint32_t kLevel = 0x2800;
// The level of a channel so held, held to 0..255, by its value in
// sixteenths.
constexpr auto kLevelOf = [] {
    std::array<uint8_t, 2048> levels{};
    for (uint32_t t = 0; t < levels.size(); ++t)
        levels[t] = static_cast<uint8_t>(t < kLevel / 16 ? 0 : t - kLevel / 16 > 255 ? 255 : t - kLevel / 16);
    return levels;
}();
// What a code shows, as the diffusion carries it on: seven sixteenths of
// its error go to the next pixel of the row, and all of it to the pixels
// below. For a pixel of level v (red and blue paired as above) shown in a
// colour of channel s, v * 7 + next is kAhead + 7 (v - s) and v + below
// is kBelow + (v - s).
struct TShown {
    uint32_t nextRb, nextG, belowRb, belowG;
};
constexpr uint32_t kAhead = 0x800, kBelow = 0x100;

// The nearest table entry of a colour (in RGB distance), the first of
// equals. The colour cube is cut into cells of 4 levels a side; a cell that
// one entry is nearest to throughout points to a block of 64 of that index,
// any other to a block of the nearest entry of each of its 64 colours,
// worked out the first time a colour of the cell is asked for. A look-up is
// then two loads after the levels are held to 0..255, and the cells' table
// (1 MB) stays in the processor's cache.
class TColorMap {
public:
    explicit TColorMap(const std::vector<uint32_t>& table);
    ~TColorMap();
    TColorMap(const TColorMap&) = delete;
    TColorMap& operator=(const TColorMap&) = delete;

    // The index of the entry nearest to a colour held as above: that of
    // its levels held to 0..255.
    int operator()(uint32_t rb, uint32_t g, TShown& shown) {
        const uint32_t r = kLevelOf[rb >> 20], gl = kLevelOf[g >> 4], b = kLevelOf[rb >> 4 & 0x7FF];
        const uint32_t cell = (r >> 2) << 12 | (gl >> 2) << 6 | b >> 2;
        uint32_t block = cells_[cell];
        if (__builtin_expect(block == 0, 0)) block = Fill(cell);
        const int i = blocks_[block | (r & 3) << 4 | (gl & 3) << 2 | (b & 3)];
        shown = TShown{shown_[0][i], shown_[1][i], shown_[2][i], shown_[3][i]};
        return i;
    }

private:
    struct Candidate;
    struct Region;

    uint32_t Fill(uint32_t cell);
    uint32_t Block(const uint8_t* nearest);
    const Region& RegionOf(int r, int g, int b);

    // The block of each cell, as an offset into blocks_; 0 until known.
    std::unique_ptr<uint32_t[], void (*)(void*)> cells_;
    const uint8_t* blocks_ = nullptr;
    std::vector<uint8_t> blockStore_;
    // What each entry shows, as the diffusion carries it.
    uint32_t shown_[4][256] = {};
    // The entries that can be nearest somewhere in a cell of 8 levels a
    // side, found among those of the cells of 16 and 32 around it.
    std::vector<Candidate> all_, candidates_;
    std::vector<Region> large_, middle_, small_;
};

}  // namespace ui
