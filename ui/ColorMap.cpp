#include "ui/ColorMap.h"

#include "ui/ColorReduction.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace ui {

using namespace pixel;

struct TColorMap::Candidate {
    int16_t r, g, b;
    uint8_t index;
};

struct TColorMap::Region {
    static constexpr uint32_t kUnknown = 0xFFFFFFFFu;
    uint32_t first = 0;
    uint32_t count = kUnknown;
};

namespace {

// Cells a side.
constexpr uint32_t kSide = 64;

size_t CellOf(int r, int g, int b, int shift) {
    const int levels = 8 - shift;
    return static_cast<size_t>((r >> shift) << 2 * levels | (g >> shift) << levels | b >> shift);
}

// Those of the candidates that can be nearest to some colour of the cube of
// `side` + 1 levels at `lo`: none that some other is nearer to than it at
// its far corner. Gives back how many it wrote.
template <class Candidate>
size_t Prune(const int lo[3], int side, const Candidate* from, const Candidate* to, Candidate* out) {
    // Per channel, the square of the farthest and of the nearest distance
    // from the entry to the cube's levels.
    auto far = [side](int at) {
        const int apart = at > side - at ? at : side - at;
        return apart * apart;
    };
    auto near = [side](int at) {
        const int in = at < 0 ? 0 : at > side ? side : at;
        return (at - in) * (at - in);
    };
    int bound = 1 << 30;
    for (const Candidate* e = from; e != to; ++e) {
        const int apart = far(e->r - lo[0]) + far(e->g - lo[1]) + far(e->b - lo[2]);
        bound = apart < bound ? apart : bound;
    }
    size_t n = 0;
    for (const Candidate* e = from; e != to; ++e) {
        out[n] = *e;
        n += near(e->r - lo[0]) + near(e->g - lo[1]) + near(e->b - lo[2]) <= bound;
    }
    return n;
}

// For each colour lo + (offsets[i], offsets[j], offsets[k]), i slowest,
// the nearest of the candidates as its distance and index in one number:
// the nearer, or of equals the first, is the smaller. Per candidate, the
// squares of each channel's differences, added up for the colours.
template <class Candidate>
void NearestAt(const int lo[3], const int (&offsets)[4], const Candidate* from, size_t count, uint32_t* best) {
    std::fill(best, best + 64, 0xFFFFFFFFu);
    for (const Candidate* e = from; e != from + count; ++e) {
        uint32_t red[4], green[4], blue[4];
        for (int t = 0; t < 4; ++t) {
            const int dr = lo[0] + offsets[t] - e->r, dg = lo[1] + offsets[t] - e->g, db = lo[2] + offsets[t] - e->b;
            red[t] = static_cast<uint32_t>(dr * dr) << 8;
            green[t] = static_cast<uint32_t>(dg * dg) << 8;
            blue[t] = static_cast<uint32_t>(db * db) << 8 | e->index;
        }
        uint32_t* to = best;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j) {
                const uint32_t rg = red[i] + green[j];
                for (int k = 0; k < 4; ++k, ++to) *to = std::min(*to, rg + blue[k]);
            }
    }
}

}  // namespace

TColorMap::TColorMap(const std::vector<uint32_t>& table)
    // Zeroed by the system as its pages are first touched, most never.
    : cells_(static_cast<uint32_t*>(std::calloc(kSide * kSide * kSide, sizeof(uint32_t))), std::free),
      large_(size_t{1} << 9),
      middle_(size_t{1} << 12),
      small_(size_t{1} << 15) {
    if (!cells_) throw std::bad_alloc();
    // The first block stands for no block; then a block of each index, for
    // the cells one entry is nearest to throughout.
    blockStore_.resize((table.size() + 1) * 64);
    for (size_t i = 0; i < table.size(); ++i) {
        std::memset(&blockStore_[(i + 1) * 64], static_cast<int>(i), 64);
        const uint32_t r = static_cast<uint32_t>(Red(table[i])), g = static_cast<uint32_t>(Green(table[i])),
                       b = static_cast<uint32_t>(Blue(table[i]));
        shown_[0][i] = (kAhead - 7 * r) << 16 | (kAhead - 7 * b);
        shown_[1][i] = kAhead - 7 * g;
        shown_[2][i] = (kBelow - r) << 16 | (kBelow - b);
        shown_[3][i] = kBelow - g;
        if (std::find(table.begin(), table.begin() + i, table[i]) == table.begin() + i)
            all_.push_back({static_cast<int16_t>(r), static_cast<int16_t>(g), static_cast<int16_t>(b),
                            static_cast<uint8_t>(i)});
    }
    blocks_ = blockStore_.data();
}

TColorMap::~TColorMap() = default;

// The cell of 8 levels a side around a colour, with its candidates. The
// first time, each of its cells of 4 that one entry is nearest to
// throughout is pointed to that entry's block: the squared distance to an
// entry is, less that to another, linear in the colour, so an entry
// nearest at all 8 corners of a cell is nearest throughout.
const TColorMap::Region& TColorMap::RegionOf(int r, int g, int b) {
    Region& cell = small_[CellOf(r, g, b, 3)];
    if (cell.count != Region::kUnknown) return cell;
    auto fill = [&](Region& c, int shift, size_t first, size_t count) {
        const int lo[3] = {r >> shift << shift, g >> shift << shift, b >> shift << shift};
        const size_t start = candidates_.size();
        // Pruning writes behind what it reads, in room made first.
        candidates_.resize(start + count);
        const Candidate* from = first == Region::kUnknown ? all_.data() : candidates_.data() + first;
        c.first = static_cast<uint32_t>(start);
        c.count = static_cast<uint32_t>(
            Prune(lo, (1 << shift) - 1, from, from + count, candidates_.data() + start));
        candidates_.resize(start + c.count);
    };
    Region& large = large_[CellOf(r, g, b, 5)];
    if (large.count == Region::kUnknown) fill(large, 5, Region::kUnknown, all_.size());
    Region& middle = middle_[CellOf(r, g, b, 4)];
    if (middle.count == Region::kUnknown) fill(middle, 4, large.first, large.count);
    fill(cell, 3, middle.first, middle.count);
    const int lo[3] = {r >> 3 << 3, g >> 3 << 3, b >> 3 << 3};
    uint32_t corner[64];
    NearestAt(lo, {0, 3, 4, 7}, candidates_.data() + cell.first, cell.count, corner);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            for (int k = 0; k < 2; ++k) {
                const uint32_t* first = corner + (i * 32 + j * 8 + k * 2);
                const uint32_t index = *first & 0xFF;
                bool one = true;
                for (int d = 0; d < 8; ++d) one &= (first[(d >> 2) * 16 + (d >> 1 & 1) * 4 + (d & 1)] & 0xFF) == index;
                if (one)
                    cells_[static_cast<uint32_t>(lo[0] / 4 + i) << 12 | static_cast<uint32_t>(lo[1] / 4 + j) << 6 |
                           static_cast<uint32_t>(lo[2] / 4 + k)] = (index + 1) * 64;
            }
    return cell;
}

uint32_t TColorMap::Fill(uint32_t cell) {
    const int lo[3] = {static_cast<int>(cell >> 12) * 4, static_cast<int>(cell >> 6 & (kSide - 1)) * 4,
                       static_cast<int>(cell & (kSide - 1)) * 4};
    const Region& region = RegionOf(lo[0], lo[1], lo[2]);
    if (cells_[cell]) return cells_[cell];
    Candidate near[256];
    const Candidate* from = candidates_.data() + region.first;
    uint32_t best[64];
    uint8_t nearest[64];
    NearestAt(lo, {0, 1, 2, 3}, near, Prune(lo, 3, from, from + region.count, near), best);
    for (int i = 0; i < 64; ++i) nearest[i] = static_cast<uint8_t>(best[i]);
    return cells_[cell] = Block(nearest);
}

// The offset of a block of these indices: of one index, the block of it.
uint32_t TColorMap::Block(const uint8_t* nearest) {
    if (std::all_of(nearest + 1, nearest + 64, [&](uint8_t i) { return i == nearest[0]; }))
        return (nearest[0] + 1u) * 64;
    const uint32_t at = static_cast<uint32_t>(blockStore_.size());
    blockStore_.insert(blockStore_.end(), nearest, nearest + 64);
    blocks_ = blockStore_.data();
    return at;
}

}  // namespace ui
