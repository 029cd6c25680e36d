#include "ui/ColorReduction.h"

#include "ui/ColorMap.h"
#include "ui/ColorTable.h"
#include "ui/Parallel.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <type_traits>

namespace ui {

namespace {

// Pixels are handled as 0x00RRGGBB, rows bottom-up as in the DIB.
using namespace pixel;

// A pixel's channels as the diffusion holds them (see kLevel), with the
// half that rounds them to the nearest level; and from channels so held,
// each one's level held to 0..255.
inline uint32_t HeldRb(uint32_t c) { return ((c & 0xFF00FF) << 4) + ((kLevel + 8) << 16 | (kLevel + 8)); }
inline uint32_t HeldG(uint32_t c) { return (c >> 4 & 0xFF0) + kLevel + 8; }
inline uint32_t Red(uint32_t rb, uint32_t) { return kLevelOf[rb >> 20]; }
inline uint32_t Green(uint32_t, uint32_t g) { return kLevelOf[g >> 4]; }
inline uint32_t Blue(uint32_t rb, uint32_t) { return kLevelOf[rb >> 4 & 0x7FF]; }

// Marks the pixels of a row in an area of one colour, its rim included:
// the same as the pixel above or below, and as the one left or right; off
// the picture counts as another colour. `up` is set to which are the same
// as those above (none without `above`), `down` is which are the same as
// those below (as the row below set its own `up`), `right` is room for a
// row of marks. In short simple loops, which a processor with vector
// registers runs several pixels at a time: compiled for any processor and
// for one with SSE2, and chosen by what the processor has.
[[gnu::always_inline]] inline void MarkFlatIn(const uint32_t* row, const uint32_t* above, int w, uint8_t* up,
                                              const uint8_t* down, uint8_t* right, uint8_t* flat) {
    auto same = [](uint32_t a, uint32_t b) -> uint8_t { return ((a ^ b) & 0xFFFFFF) == 0; };
    if (above)
        for (int x = 0; x < w; ++x) up[x] = same(row[x], above[x]);
    else
        std::fill(up, up + w, 0);
    for (int x = 0; x + 1 < w; ++x) right[x] = same(row[x], row[x + 1]);
    right[w - 1] = 0;
    flat[0] = (up[0] | down[0]) & right[0];
    for (int x = 1; x < w; ++x) flat[x] = (up[x] | down[x]) & (right[x] | right[x - 1]);
}
[[gnu::noinline]] void MarkFlatAny(const uint32_t* row, const uint32_t* above, int w, uint8_t* up,
                                   const uint8_t* down, uint8_t* right, uint8_t* flat) {
    MarkFlatIn(row, above, w, up, down, right, flat);
}
[[gnu::noinline, gnu::target("sse2")]] void MarkFlatSse2(const uint32_t* row, const uint32_t* above, int w,
                                                         uint8_t* up, const uint8_t* down, uint8_t* right,
                                                         uint8_t* flat) {
    MarkFlatIn(row, above, w, up, down, right, flat);
}
void MarkFlat(const uint32_t* row, const uint32_t* above, int w, uint8_t* up, const uint8_t* down, uint8_t* right,
              uint8_t* flat) {
    static const bool sse2 = __builtin_cpu_supports("sse2");
    (sse2 ? MarkFlatSse2 : MarkFlatAny)(row, above, w, up, down, right, flat);
}

// Rows first .. last - 1 of a picture, after rows warm .. first - 1 run for
// the errors they pass on alone.
struct TRowSpan {
    int warm, first, last;
};

// The pixels of the rows of a span mapped by pick(rb, g, shown), which takes
// the channels held as the diffusion holds them, returns the code of the
// pixel and sets what that code shows; out.Row(y) is where the codes of row
// y go, out.Done(y) called once they are there. Diffusing spreads each
// pixel's error over the pixels still to come (Floyd and Steinberg's
// weights, alternate rows run backwards).
template <class Code, class Pick, class Out>
void Quantize(TPixelRows px, int w, int h, TRowSpan span, bool diffuse, bool keepFlat, Pick& pick, Out& out) {
    const int first = span.first, last = span.last;
    TShown shown;
    if (!diffuse) {
        for (int y = first; y < last; ++y) {
            const uint32_t* row = px[y];
            Code* codes = out.Row(y);
            for (int x = 0; x < w; ++x) codes[x] = static_cast<Code>(pick(HeldRb(row[x]), HeldG(row[x]), shown));
            out.Done(y);
        }
        return;
    }
    // A pixel's place holds its error for the row below, as v + below (see
    // TShown), and its code.
    struct Place {
        uint32_t rb;
        uint16_t g, code;
    };
    constexpr uint32_t kPair = 1u << 16 | 1u;
    const Place none{kBelow * kPair, kBelow, 0};
    // This row's places and the row before's, in the order each was run,
    // with one of margin either side.
    std::vector<Place> places(static_cast<size_t>(w) + 2, none), before(places.size(), none);
    // By x, whether a pixel of this row is in an area of one colour, its
    // rim included: the same as the pixel above or below, and as the one
    // left or right. Off the picture counts as another colour. Each pair of
    // rows is compared once: this row's pixels are the same as those below
    // where the row below found them the same as those above.
    std::vector<uint8_t> flat(static_cast<size_t>(w)), sameAbove(flat.size()), sameBelow(flat.size()),
        sameRight(flat.size());
    std::vector<Code> unused(first > span.warm ? static_cast<size_t>(w) : 0);
    for (int y = span.warm; y < last; ++y) {
        const uint32_t* row = px[y];
        if (keepFlat) {
            MarkFlat(row, y + 1 < h ? px[y + 1] : nullptr, w, sameAbove.data(), sameBelow.data(), sameRight.data(),
                     flat.data());
            sameAbove.swap(sameBelow);
        }
        const int dir = y % 2 == 0 ? 1 : -1;
        Place* const begin = places.data() + 1;
        // The place of the row before under pixel i of this one is w - 1 - i:
        // that row ran the other way.
        const Place* e = before.data() + w;
        // Seven sixteenths of the error of the pixel before, as v * 7 + next.
        uint32_t aheadRb = kAhead * kPair, aheadG = kAhead;
        // Only the pixel's look-up and what comes of it wait for the pixel
        // before; the rest of the loop is done meanwhile.
        for (Place* p = begin; p != begin + w; ++p, --e) {
            const int i = static_cast<int>(p - begin);
            const int x = dir > 0 ? i : w - 1 - i;
            const uint32_t c = row[x];
            // In an area of one colour no error comes in or goes out, so the
            // area stays one colour and its edges stay sharp.
            if (keepFlat && flat[static_cast<size_t>(x)]) {
                p->code = static_cast<uint16_t>(pick(HeldRb(c), HeldG(c), shown));
                aheadRb = kAhead * kPair;
                aheadG = kAhead;
                *p = Place{kBelow * kPair, kBelow, p->code};
                continue;
            }
            // Five sixteenths from the pixel above, three from the one
            // before it in that row's run, one from the one after; less what
            // those and the share of the pixel before add over the errors.
            constexpr uint32_t extra = kLevel + 8 - kAhead - 9 * kBelow;
            const uint32_t rb = ((c & 0xFF00FF) << 4) + e[0].rb * 5 + e[1].rb * 3 + e[-1].rb + extra * kPair + aheadRb;
            const uint32_t g = (c >> 4 & 0xFF0) + e[0].g * 5u + e[1].g * 3u + e[-1].g + extra + aheadG;
            p->code = static_cast<uint16_t>(pick(rb, g, shown));
            const uint32_t levelsRb = Red(rb, g) << 16 | Blue(rb, g), levelG = Green(rb, g);
            aheadRb = levelsRb * 7 + shown.nextRb;
            aheadG = levelG * 7 + shown.nextG;
            p->rb = levelsRb + shown.belowRb;
            p->g = static_cast<uint16_t>(levelG + shown.belowG);
        }
        Code* codes = y >= first ? out.Row(y) : unused.data();
        if (dir > 0)
            for (int i = 0; i < w; ++i) codes[i] = static_cast<Code>(begin[i].code);
        else
            for (int i = 0; i < w; ++i) codes[w - 1 - i] = static_cast<Code>(begin[i].code);
        if (y >= first) out.Done(y);
        places.swap(before);
    }
}

// Runs part(span) over all the rows. A large picture being diffused is
// run in two halves at once where another thread can be had. The upper half
// first runs some rows below it, so that its first row takes errors from
// below much as it would have, and no seam shows between the halves.
template <class Part>
void InHalves(int w, int h, bool diffuse, Part part) {
    constexpr int kWarmRows = 16;
    if (!diffuse || static_cast<long long>(w) * h < kPixelsForTwoThreads) {
        part(TRowSpan{0, 0, h});
        return;
    }
    const int mid = h / 2;
    const TRowSpan halves[2] = {{0, 0, mid}, {std::max(0, mid - kWarmRows), mid, h}};
    TPieces pieces(2, 1);
    bool done[2] = {false, false};
    auto run = [&] {
        for (int k, end; pieces.Next(k, end);) {
            part(halves[k]);
            done[k] = true;
        }
    };
    {
        TBackground other(true, run);
        run();
    }
    // A half the other thread took and could not finish (it had no memory).
    for (int k = 0; k < 2; ++k)
        if (!done[k]) part(halves[k]);
}

// A set of at most 256 colours, each with its table index.
class ColorSet {
public:
    ColorSet() { std::fill(std::begin(keys_), std::end(keys_), kFree); }
    // False when the colour is new and the set is full.
    bool Add(uint32_t c, size_t limit) {
        size_t i = Slot(c);
        if (keys_[i] == c) return true;
        if (colors.size() >= limit) return false;
        keys_[i] = c;
        index_[i] = static_cast<uint8_t>(colors.size());
        colors.push_back(c);
        return true;
    }
    int IndexOf(uint32_t c) const { return index_[Slot(c)]; }

    std::vector<uint32_t> colors;

private:
    static constexpr size_t kSize = 1024;
    size_t Slot(uint32_t c) const {
        size_t i = (c * 2654435761u) >> 22;
        while (keys_[i] != c && keys_[i] != kFree) i = (i + 1) & (kSize - 1);
        return i;
    }
    static constexpr uint32_t kFree = 0xFFFFFFFFu;
    uint32_t keys_[kSize];
    uint8_t index_[kSize] = {};
};

// Fills the table up to n entries with the fixed table's colours it lacks,
// so that a pen colour drawn later still finds its like.
void CompleteTable(std::vector<uint32_t>& table, int bpp, const std::vector<uint32_t>& fixedTable) {
    const size_t n = size_t{1} << bpp;
    for (uint32_t c : fixedTable)
        if (table.size() < n && std::find(table.begin(), table.end(), c) == table.end())
            table.push_back(c);
    while (table.size() < n) table.push_back(table.empty() ? 0 : table.back());
}

}  // namespace

HighColorLevels WidenedHighColorLevels() {
    HighColorLevels l{};
    for (int i = 0; i < 32; ++i) l.wide5[i] = static_cast<uint8_t>(i << 3 | i >> 2);
    for (int i = 0; i < 64; ++i) l.wide6[i] = static_cast<uint8_t>(i << 2 | i >> 4);
    NarrowHighColorLevels(l);
    return l;
}

void NarrowHighColorLevels(HighColorLevels& l) {
    for (int v = 0; v < 256; ++v) {
        auto nearest = [v](const uint8_t* wide, int n) {
            int best = 0;
            for (int i = 1; i < n; ++i)
                if (std::abs(wide[i] - v) < std::abs(wide[best] - v)) best = i;
            return static_cast<uint8_t>(best);
        };
        l.narrow5[v] = nearest(l.wide5, 32);
        l.narrow6[v] = nearest(l.wide6, 64);
    }
}

std::vector<uint32_t> FixedColorTable(int bpp, const uint32_t* statics) {
    std::vector<uint32_t> table(size_t{1} << bpp, 0);
    if (bpp == 1) {
        table[1] = Pack(255, 255, 255);
    } else if (bpp == 4) {
        // The 16 standard colours: the first and last 8 of the 20 static ones.
        for (int k = 0; statics && k < 8; ++k) {
            table[k] = statics[k];
            table[8 + k] = statics[12 + k];
        }
    } else if (bpp == 8) {
        // As in the system palette, entry i and entry 255 - i are inverse
        // colours, so that inverting pixels (a not or xor pen, a focus
        // rectangle) inverts their colours: the static colours at both
        // ends, a grey ramp and its inverse, and a 6 x 6 x 6 cube, whose
        // inverse of cube entry c is entry 215 - c.
        for (int k = 0; statics && k < 10; ++k) {
            table[k] = statics[k];
            table[255 - k] = statics[19 - k];
        }
        for (int k = 0; k < 10; ++k) {
            const int g = 8 + 12 * k;
            table[10 + k] = Pack(g, g, g);
            table[245 - k] = Pack(255 - g, 255 - g, 255 - g);
        }
        for (int c = 0; c < 216; ++c) table[20 + c] = Pack(c / 36 * 51, c / 6 % 6 * 51, c % 6 * 51);
    }
    return table;
}

namespace {

// A format's rows written without asking at every pixel which format: the
// codes of a row of 8 bits go straight into it, of fewer into a row of
// their own that is packed once done.
template <int bpp>
class IndexedRows {
public:
    IndexedRows(int w, uint8_t* rows, int stride)
        : w_(w), rows_(rows), stride_(stride), codes_(bpp < 8 ? static_cast<size_t>(w) : 0) {}
    uint8_t* Row(int y) { return bpp == 8 ? rows_ + static_cast<size_t>(y) * stride_ : codes_.data(); }
    void Done(int y) {
        uint8_t* row = rows_ + static_cast<size_t>(y) * stride_;
        int used = w_;
        if constexpr (bpp < 8) {
            const int perByte = 8 / bpp;
            const uint8_t* c = codes_.data();
            used = (w_ + perByte - 1) / perByte;
            for (int x = 0; x < w_; x += perByte) {
                unsigned byte = 0;
                for (int k = 0; k < perByte; ++k) byte = byte << bpp | (x + k < w_ ? c[x + k] : 0u);
                row[x / perByte] = static_cast<uint8_t>(byte);
            }
        }
        std::memset(row + used, 0, static_cast<size_t>(stride_ - used));
    }

private:
    int w_;
    uint8_t* rows_;
    int stride_;
    std::vector<uint8_t> codes_;
};

template <int bpp>
std::vector<uint32_t> ReduceToIndexed(std::integral_constant<int, bpp>, TPixelRows px, int w, int h,
                                      const std::vector<uint32_t>& fixedTable,
                                      const TColorReduction& how, uint8_t* rows, int stride) {
    IndexedRows<bpp> out(w, rows, stride);
    const size_t n = size_t{1} << bpp;
    std::vector<uint32_t> table;
    // A picture with no more colours than the table holds keeps every one.
    auto few = std::make_unique<ColorSet>();
    bool fits = how.adaptive;
    uint32_t last = 0;
    for (int y = 0; fits && y < h; ++y)
        for (int x = 0; fits && x < w; ++x) {
            const uint32_t c = px[y][x] & 0xFFFFFF;
            if ((x == 0 && y == 0) || c != last) fits = few->Add(c, n);
            last = c;
        }
    if (fits) {
        table = few->colors;
        CompleteTable(table, bpp, fixedTable);
        auto pick = [&](uint32_t rb, uint32_t g, TShown&) {
            return few->IndexOf(static_cast<uint32_t>(Pack(Red(rb, g), Green(rb, g), Blue(rb, g))));
        };
        Quantize<uint8_t>(px, w, h, TRowSpan{0, 0, h}, false, false, pick, out);
    } else {
        auto reduce = [&](std::vector<uint32_t> colors) {
            table = std::move(colors);
            CompleteTable(table, bpp, fixedTable);
            // Each half has a map of its own: one shared would have to be
            // filled under a lock, which costs more than filling it twice.
            InHalves(w, h, how.diffuse, [&](TRowSpan span) {
                IndexedRows<bpp> to(w, rows, stride);
                const auto nearest = std::make_unique<TColorMap>(table);
                Quantize<uint8_t>(px, w, h, span, how.diffuse, how.keepFlatAreas, *nearest, to);
            });
        };
        if (!how.adaptive) {
            reduce(fixedTable);
            return table;
        }
        const TAdaptiveTable adaptive(px, w, h, static_cast<int>(n));
        if (!adaptive.Unsettled() || static_cast<long long>(w) * h < kPixelsForTwoThreads ||
            !adaptive.LikelySettled(px, w, h)) {
            reduce(adaptive.Settled(px, w, h, false));
            return table;
        }
        // Where a sample of the rows says settling will leave the table as
        // it is, the picture is reduced with it while another thread
        // settles it, and again in the rare case that settling changes it.
        std::vector<uint32_t> settled;
        bool counted = false;
        {
            TBackground check(true, [&] {
                settled = adaptive.Settled(px, w, h, true);
                counted = true;
            });
            reduce(adaptive.Colors());
        }
        if (!counted) settled = adaptive.Settled(px, w, h, false);
        if (settled != adaptive.Colors()) reduce(std::move(settled));
    }
    return table;
}

}  // namespace

std::vector<uint32_t> ReduceToIndexed(TPixelRows px, int w, int h, int bpp,
                                      const std::vector<uint32_t>& fixedTable,
                                      const TColorReduction& how, uint8_t* rows, int stride) {
    if (bpp == 1) return ReduceToIndexed(std::integral_constant<int, 1>{}, px, w, h, fixedTable, how, rows, stride);
    if (bpp == 4) return ReduceToIndexed(std::integral_constant<int, 4>{}, px, w, h, fixedTable, how, rows, stride);
    return ReduceToIndexed(std::integral_constant<int, 8>{}, px, w, h, fixedTable, how, rows, stride);
}

void ReduceToHighColor(TPixelRows px, int w, int h, int bpp, const HighColorLevels& l,
                       const TColorReduction& how, uint8_t* rows, int stride) {
    const bool six = bpp == 16;
    struct Rows {
        uint8_t* rows;
        int stride;
        uint16_t* Row(int y) { return reinterpret_cast<uint16_t*>(rows + static_cast<size_t>(y) * stride); }
        void Done(int) {}
    } out{rows, stride};
    // Each level's code and what it shows, per channel.
    uint32_t codeOf[3][256], nextOf[3][256], belowOf[3][256];
    for (int v = 0; v < 256; ++v) {
        codeOf[0][v] = static_cast<uint32_t>(l.narrow5[v] << (six ? 11 : 10));
        codeOf[1][v] = static_cast<uint32_t>((six ? l.narrow6[v] : l.narrow5[v]) << 5);
        codeOf[2][v] = l.narrow5[v];
        const uint32_t shown[3] = {l.wide5[l.narrow5[v]], six ? l.wide6[l.narrow6[v]] : l.wide5[l.narrow5[v]],
                                   l.wide5[l.narrow5[v]]};
        for (int k = 0; k < 3; ++k) {
            nextOf[k][v] = kAhead - 7 * shown[k];
            belowOf[k][v] = kBelow - shown[k];
        }
    }
    auto pick = [&](uint32_t rb, uint32_t g, TShown& shown) {
        const uint32_t r = Red(rb, g), gg = Green(rb, g), b = Blue(rb, g);
        shown = TShown{nextOf[0][r] << 16 | nextOf[2][b], nextOf[1][gg], belowOf[0][r] << 16 | belowOf[2][b],
                       belowOf[1][gg]};
        return codeOf[0][r] | codeOf[1][gg] | codeOf[2][b];
    };
    InHalves(w, h, how.diffuse, [&](TRowSpan span) {
        Rows to = out;
        Quantize<uint16_t>(px, w, h, span, how.diffuse, how.keepFlatAreas, pick, to);
    });
}

}  // namespace ui
