#include "ui/ColorReduction.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <type_traits>

namespace ui {

namespace {

// Pixels are handled as 0x00RRGGBB, rows bottom-up as in the DIB.
using namespace pixel;
inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

// Every pixel mapped by pick(r, g, b, shown), which returns the code of the
// pixel and sets the colour that code shows, and stored by put(x, y, code).
// Diffusing spreads each pixel's error over the pixels still to come
// (Floyd and Steinberg's weights, alternate rows run backwards).
template <class Pick, class Put>
void Quantize(const std::vector<uint32_t>& px, int w, int h, bool diffuse, bool keepFlat, Pick pick,
              Put put) {
    uint32_t shown = 0;
    if (!diffuse) {
        for (int y = 0; y < h; ++y) {
            const uint32_t* row = px.data() + static_cast<size_t>(y) * w;
            for (int x = 0; x < w; ++x) {
                const uint32_t c = row[x];
                put(x, y, pick(Red(c), Green(c), Blue(c), shown));
            }
        }
        return;
    }
    // Errors in sixteenths from the row before, one pixel of margin on
    // either side. What goes on to the next pixel of the row, and to the row
    // below until its pixel there has all it gets, is carried, so that each
    // pixel of the row below is written once.
    std::vector<int> cur(static_cast<size_t>(w + 2) * 3), next(cur.size());
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = px.data() + static_cast<size_t>(y) * w;
        // Off the picture counts as another colour.
        const uint32_t* above = y + 1 < h ? row + w : nullptr;
        const uint32_t* below = y > 0 ? row - w : nullptr;
        auto run = [&](auto direction) {
            constexpr int dir = decltype(direction)::value;
            int aheadR = 0, aheadG = 0, aheadB = 0;
            // For the pixel below the one before, and below this one.
            int backR = 0, backG = 0, backB = 0, downR = 0, downG = 0, downB = 0;
            for (int i = 0; i < w; ++i) {
                const int x = dir > 0 ? i : w - 1 - i;
                const uint32_t c = row[x];
                int er = 0, eg = 0, eb = 0;
                if (keepFlat && ((above && c == above[x]) || (below && c == below[x])) &&
                    ((x > 0 && c == row[x - 1]) || (x + 1 < w && c == row[x + 1]))) {
                    // In an area of one colour, its rim included: no error
                    // comes in or goes out, so the area stays one colour and
                    // its edges stay sharp.
                    put(x, y, pick(Red(c), Green(c), Blue(c), shown));
                } else {
                    const int* e = &cur[static_cast<size_t>(x + 1) * 3];
                    const int r = Clamp255(Red(c) + ((e[0] + aheadR + 8) >> 4));
                    const int g = Clamp255(Green(c) + ((e[1] + aheadG + 8) >> 4));
                    const int b = Clamp255(Blue(c) + ((e[2] + aheadB + 8) >> 4));
                    put(x, y, pick(r, g, b, shown));
                    er = r - Red(shown);
                    eg = g - Green(shown);
                    eb = b - Blue(shown);
                }
                aheadR = er * 7;
                aheadG = eg * 7;
                aheadB = eb * 7;
                int* done = &next[static_cast<size_t>(x + 1 - dir) * 3];
                done[0] = backR + er * 3;
                done[1] = backG + eg * 3;
                done[2] = backB + eb * 3;
                backR = downR + er * 5;
                backG = downG + eg * 5;
                backB = downB + eb * 5;
                downR = er;
                downG = eg;
                downB = eb;
            }
            int* last = &next[static_cast<size_t>(dir > 0 ? w : 1) * 3];
            last[0] = backR;
            last[1] = backG;
            last[2] = backB;
        };
        // Alternate rows run backwards.
        if (y % 2 == 0)
            run(std::integral_constant<int, 1>{});
        else
            run(std::integral_constant<int, -1>{});
        cur.swap(next);
    }
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

// The nearest table entry of a colour (in RGB distance), the first of
// equals. The colour cube is cut into small cells; each cell remembers, once
// asked, the entries that can be nearest to some colour in it, closest
// first, so that a look-up stops at the first entry that cannot beat the
// best found; most cells have one, which the cell holds itself. A small
// cell's entries are found among those of the large cell around it.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<uint32_t>& table)
        : table_(table), large_(size_t{1} << 3 * (8 - kLarge)), small_(size_t{1} << 3 * (8 - kSmall)) {
        for (size_t i = 0; i < table_.size(); ++i)
            if (std::find(table_.begin(), table_.begin() + i, table_[i]) == table_.begin() + i)
                all_.push_back({0, static_cast<int16_t>(Red(table_[i])),
                                static_cast<int16_t>(Green(table_[i])),
                                static_cast<int16_t>(Blue(table_[i])), static_cast<uint8_t>(i)});
    }

    // The entry's index; `shown` is set to its colour.
    int operator()(int r, int g, int b, uint32_t& shown) {
        Cell& cell = small_[CellOf(r, g, b, kSmall)];
        if (cell.count == kUnknown) {
            Cell& large = large_[CellOf(r, g, b, kLarge)];
            if (large.count == kUnknown)
                Fill(large, r, g, b, kLarge, all_.data(), all_.data() + all_.size());
            const Candidate* from = candidates_.data() + large.first;
            if (large.count == 1) {
                // Filling would grow the list under the pointers.
                cell = large;
            } else {
                candidates_.reserve(candidates_.size() + large.count);
                from = candidates_.data() + large.first;
                Fill(cell, r, g, b, kSmall, from, from + large.count);
            }
        }
        if (cell.count == 1) {
            shown = cell.first & 0xFFFFFF;
            return static_cast<int>(cell.first >> 24);
        }
        const Candidate* c = candidates_.data() + cell.first;
        const Candidate* end = c + cell.count;
        // The distance and the index in one number: the nearer, or of equals
        // the first, is the smaller.
        int best = 1 << 30;
        for (; c != end && c->nearest << 8 <= best; ++c) {
            const int dr = c->r - r, dg = c->g - g, db = c->b - b;
            const int key = (dr * dr + dg * dg + db * db) << 8 | c->index;
            best = key < best ? key : best;
        }
        shown = table_[best & 0xFF];
        return best & 0xFF;
    }

private:
    // Cells of 2^kSmall levels a side, inside cells of 2^kLarge.
    static constexpr int kSmall = 3, kLarge = 5;
    static constexpr uint32_t kUnknown = 0xFFFFFFFFu;

    struct Candidate {
        // The least distance from the cell to the entry.
        int nearest;
        int16_t r, g, b;
        uint8_t index;
    };
    // The cell's candidates; of one, its index and colour, packed.
    struct Cell {
        uint32_t first = 0;
        uint32_t count = kUnknown;
    };

    static size_t CellOf(int r, int g, int b, int shift) {
        const int levels = 8 - shift;
        return static_cast<size_t>((r >> shift) << 2 * levels | (g >> shift) << levels | b >> shift);
    }

    // Out of line, so that the look-up stays small enough to inline.
    [[gnu::noinline]] void Fill(Cell& cell, int red, int green, int blue, int shift,
                                const Candidate* from, const Candidate* to) {
        const int side = (1 << shift) - 1;
        const int lo[3] = {red >> shift << shift, green >> shift << shift, blue >> shift << shift};
        const size_t start = candidates_.size();
        int bound = 1 << 30;
        for (const Candidate* e = from; e != to; ++e) {
            const int v[3] = {e->r, e->g, e->b};
            int dmin = 0, dmax = 0;
            for (int k = 0; k < 3; ++k) {
                const int below = lo[k] - v[k], above = v[k] - (lo[k] + side);
                const int out = std::max({below, above, 0});
                const int apart = std::max(std::abs(v[k] - lo[k]), std::abs(v[k] - lo[k] - side));
                dmin += out * out;
                dmax += apart * apart;
            }
            bound = std::min(bound, dmax);
            if (dmin <= bound) candidates_.push_back({dmin, e->r, e->g, e->b, e->index});
        }
        // Those that some entry is nearer than at the far side of the cell
        // never win.
        const auto begin = candidates_.begin() + static_cast<std::ptrdiff_t>(start);
        candidates_.erase(std::remove_if(begin, candidates_.end(),
                                         [bound](const Candidate& c) { return c.nearest > bound; }),
                          candidates_.end());
        std::sort(candidates_.begin() + static_cast<std::ptrdiff_t>(start), candidates_.end(),
                  [](const Candidate& a, const Candidate& b) {
                      return a.nearest < b.nearest || (a.nearest == b.nearest && a.index < b.index);
                  });
        cell.count = static_cast<uint32_t>(candidates_.size() - start);
        if (cell.count == 1) {
            const Candidate& only = candidates_.back();
            cell.first = static_cast<uint32_t>(only.index) << 24 | Pack(only.r, only.g, only.b);
            candidates_.pop_back();
        } else {
            cell.first = static_cast<uint32_t>(start);
        }
    }

    std::vector<uint32_t> table_;
    // The first of each colour in the table.
    std::vector<Candidate> all_;
    std::vector<Cell> large_, small_;
    std::vector<Candidate> candidates_;
};

// A table of up to n colours for a picture. On a histogram of 32 levels a
// channel, the box of colours with the largest squared error is cut in two
// at the median of its most spread channel until there are n boxes; their
// means are then refined by a few rounds of moving each colour to the mean
// of the pixels nearest it. A colour that more than half of those pixels
// have exactly takes the place of their mean, so that the flat areas of a
// screenshot keep their colour.
std::vector<uint32_t> AdaptiveTable(const std::vector<uint32_t>& px, int n) {
    constexpr int kBins = 32768;
    auto binOf = [](uint32_t c) { return (c >> 9 & 0x7C00) | (c >> 6 & 0x3E0) | (c >> 3 & 0x1F); };
    // All a bin keeps in one place, so that a pixel touches one cache line.
    // A bin's colours differ only in their low 3 bits a channel, so only
    // those are summed.
    struct Bin {
        uint32_t count, mode, votes, low[3];
    };
    std::vector<Bin> bins(kBins);
    for (uint32_t c : px) {
        Bin& bin = bins[binOf(c)];
        ++bin.count;
        bin.low[0] += c >> 16 & 7;
        bin.low[1] += c >> 8 & 7;
        bin.low[2] += c & 7;
        // The bin's most common colour, if one has more than half (a
        // majority vote), counted exactly below.
        const uint32_t mode = bin.votes == 0 ? c : bin.mode;
        bin.mode = mode;
        bin.votes += mode == c ? 1u : ~0u;
    }
    for (Bin& bin : bins) bin.votes = 0;
    for (uint32_t c : px) {
        Bin& bin = bins[binOf(c)];
        bin.votes += bin.mode == c;
    }
    // The occupied bins as points (their mean colour) weighted by their pixels.
    struct Point {
        double w, c[3];
        uint32_t mode;
        double modeCount;
    };
    std::vector<Point> points;
    for (int i = 0; i < kBins; ++i)
        if (bins[i].count > 0) {
            const Bin& bin = bins[i];
            const double w = bin.count;
            const int level[3] = {i >> 10 << 3, (i >> 5 & 31) << 3, (i & 31) << 3};
            double mean[3];
            for (int k = 0; k < 3; ++k)
                mean[k] = static_cast<double>(uint64_t{bin.count} * static_cast<uint32_t>(level[k]) +
                                              bin.low[k]) /
                          w;
            points.push_back({w, {mean[0], mean[1], mean[2]}, bin.mode, static_cast<double>(bin.votes)});
        }

    struct Box {
        size_t begin, end;
        double w, mean[3], sse[3];
    };
    auto measure = [&](size_t begin, size_t end) {
        Box box{begin, end, 0, {0, 0, 0}, {0, 0, 0}};
        double s[3] = {0, 0, 0}, q[3] = {0, 0, 0};
        for (size_t i = begin; i < end; ++i)
            for (int k = 0; k < 3; ++k) {
                s[k] += points[i].w * points[i].c[k];
                q[k] += points[i].w * points[i].c[k] * points[i].c[k];
            }
        for (size_t i = begin; i < end; ++i) box.w += points[i].w;
        for (int k = 0; k < 3; ++k) {
            box.mean[k] = box.w > 0 ? s[k] / box.w : 0;
            box.sse[k] = box.w > 0 ? q[k] - s[k] * s[k] / box.w : 0;
        }
        return box;
    };
    std::vector<Box> boxes{measure(0, points.size())};
    while (static_cast<int>(boxes.size()) < n) {
        size_t pick = boxes.size();
        double worst = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            const double e = boxes[i].sse[0] + boxes[i].sse[1] + boxes[i].sse[2];
            if (boxes[i].end - boxes[i].begin > 1 && e > worst) worst = e, pick = i;
        }
        if (pick == boxes.size()) break;
        Box box = boxes[pick];
        const int axis = box.sse[0] >= box.sse[1] && box.sse[0] >= box.sse[2] ? 0
                         : box.sse[1] >= box.sse[2]                         ? 1
                                                                            : 2;
        std::sort(points.begin() + box.begin, points.begin() + box.end,
                  [axis](const Point& a, const Point& b) { return a.c[axis] < b.c[axis]; });
        size_t cut = box.begin + 1;
        double below = points[box.begin].w;
        while (cut < box.end - 1 && below + points[cut].w <= box.w / 2) below += points[cut++].w;
        boxes[pick] = measure(box.begin, cut);
        boxes.push_back(measure(cut, box.end));
    }
    std::vector<std::array<double, 3>> means;
    for (const Box& b : boxes) means.push_back({b.mean[0], b.mean[1], b.mean[2]});
    auto nearest = [&](const Point& p) {
        size_t best = 0;
        double bestDist = 1e300;
        for (size_t j = 0; j < means.size(); ++j) {
            const double dr = means[j][0] - p.c[0], dg = means[j][1] - p.c[1],
                         db = means[j][2] - p.c[2];
            const double d = dr * dr + dg * dg + db * db;
            if (d < bestDist) bestDist = d, best = j;
        }
        return best;
    };
    for (int round = 0; round < 4; ++round) {
        std::vector<std::array<double, 4>> acc(means.size(), {0, 0, 0, 0});
        for (const Point& p : points) {
            const size_t j = nearest(p);
            for (int k = 0; k < 3; ++k) acc[j][k] += p.w * p.c[k];
            acc[j][3] += p.w;
        }
        for (size_t j = 0; j < means.size(); ++j)
            if (acc[j][3] > 0)
                for (int k = 0; k < 3; ++k) means[j][k] = acc[j][k] / acc[j][3];
    }
    std::vector<uint32_t> table;
    for (const auto& m : means)
        table.push_back(Pack(Clamp255(static_cast<int>(m[0] + 0.5)),
                             Clamp255(static_cast<int>(m[1] + 0.5)),
                             Clamp255(static_cast<int>(m[2] + 0.5))));
    std::vector<double> weight(means.size()), modeCount(means.size());
    std::vector<uint32_t> modeOf(means.size());
    for (const Point& p : points) {
        const size_t j = nearest(p);
        weight[j] += p.w;
        if (p.modeCount > modeCount[j]) modeCount[j] = p.modeCount, modeOf[j] = p.mode;
    }
    for (size_t j = 0; j < means.size(); ++j)
        if (modeCount[j] * 2 > weight[j]) table[j] = modeOf[j];
    return table;
}

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

// A format's rows written without asking at every pixel which format.
template <int bpp>
std::vector<uint32_t> ReduceToIndexed(std::integral_constant<int, bpp>, const std::vector<uint32_t>& px,
                                      int w, int h, const std::vector<uint32_t>& fixedTable,
                                      const TColorReduction& how, uint8_t* rows, int stride) {
    if (bpp < 8) std::memset(rows, 0, static_cast<size_t>(stride) * h);
    for (int y = 0; bpp == 8 && y < h; ++y)
        std::memset(rows + static_cast<size_t>(y) * stride + w, 0, static_cast<size_t>(stride - w));
    auto put = [&](int x, int y, int index) {
        uint8_t* row = rows + static_cast<size_t>(y) * stride;
        if constexpr (bpp == 8)
            row[x] = static_cast<uint8_t>(index);
        else if constexpr (bpp == 4)
            row[x >> 1] |= static_cast<uint8_t>(index << ((x & 1) ? 0 : 4));
        else
            row[x >> 3] |= static_cast<uint8_t>(index << (7 - (x & 7)));
    };
    const size_t n = size_t{1} << bpp;
    std::vector<uint32_t> table;
    // A picture with no more colours than the table holds keeps every one.
    auto few = std::make_unique<ColorSet>();
    bool fits = how.adaptive;
    for (size_t i = 0; fits && i < px.size(); ++i)
        if (i == 0 || px[i] != px[i - 1]) fits = few->Add(px[i], n);
    if (fits) {
        table = few->colors;
        CompleteTable(table, bpp, fixedTable);
        Quantize(px, w, h, false, false,
                 [&](int r, int g, int b, uint32_t& shown) {
                     shown = Pack(r, g, b);
                     return few->IndexOf(shown);
                 },
                 put);
    } else {
        table = how.adaptive ? AdaptiveTable(px, static_cast<int>(n)) : fixedTable;
        CompleteTable(table, bpp, fixedTable);
        NearestEntry nearest(table);
        Quantize(px, w, h, how.diffuse, how.keepFlatAreas,
                 [&](int r, int g, int b, uint32_t& shown) {
                     return nearest(r, g, b, shown);
                 },
                 put);
    }
    return table;
}

}  // namespace

std::vector<uint32_t> ReduceToIndexed(const std::vector<uint32_t>& px, int w, int h, int bpp,
                                      const std::vector<uint32_t>& fixedTable,
                                      const TColorReduction& how, uint8_t* rows, int stride) {
    if (bpp == 1) return ReduceToIndexed(std::integral_constant<int, 1>{}, px, w, h, fixedTable, how, rows, stride);
    if (bpp == 4) return ReduceToIndexed(std::integral_constant<int, 4>{}, px, w, h, fixedTable, how, rows, stride);
    return ReduceToIndexed(std::integral_constant<int, 8>{}, px, w, h, fixedTable, how, rows, stride);
}

void ReduceToHighColor(const std::vector<uint32_t>& px, int w, int h, int bpp,
                       const HighColorLevels& l, const TColorReduction& how, uint8_t* rows,
                       int stride) {
    const bool six = bpp == 16;
    auto put = [&](int x, int y, int code) {
        reinterpret_cast<uint16_t*>(rows + static_cast<size_t>(y) * stride)[x] =
            static_cast<uint16_t>(code);
    };
    Quantize(px, w, h, how.diffuse, how.keepFlatAreas,
             [&](int r, int g, int b, uint32_t& shown) {
                 const int cr = l.narrow5[r], cb = l.narrow5[b];
                 const int cg = six ? l.narrow6[g] : l.narrow5[g];
                 shown = Pack(l.wide5[cr], six ? l.wide6[cg] : l.wide5[cg], l.wide5[cb]);
                 return six ? cr << 11 | cg << 5 | cb : cr << 10 | cg << 5 | cb;
             },
             put);
}

}  // namespace ui
