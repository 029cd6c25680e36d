#include "ui/ColorReduction.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>

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
    // Errors in sixteenths, one pixel of margin on either side.
    std::vector<int> cur(static_cast<size_t>(w + 2) * 3), next(cur.size());
    for (int y = 0; y < h; ++y) {
        const uint32_t* row = px.data() + static_cast<size_t>(y) * w;
        // Off the picture counts as another colour.
        const uint32_t* above = y + 1 < h ? row + w : nullptr;
        const uint32_t* below = y > 0 ? row - w : nullptr;
        std::fill(next.begin(), next.end(), 0);
        const bool forward = y % 2 == 0;
        const int dir = forward ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = forward ? i : w - 1 - i;
            const uint32_t c = row[x];
            if (keepFlat && ((above && c == above[x]) || (below && c == below[x])) &&
                ((x > 0 && c == row[x - 1]) || (x + 1 < w && c == row[x + 1]))) {
                // In an area of one colour, its rim included: no error comes
                // in or goes out, so the area stays one colour and its edges
                // stay sharp.
                put(x, y, pick(Red(c), Green(c), Blue(c), shown));
                continue;
            }
            int* e = &cur[static_cast<size_t>(x + 1) * 3];
            const int r = Clamp255(Red(c) + ((e[0] + 8) >> 4));
            const int g = Clamp255(Green(c) + ((e[1] + 8) >> 4));
            const int b = Clamp255(Blue(c) + ((e[2] + 8) >> 4));
            put(x, y, pick(r, g, b, shown));
            const int err[3] = {r - Red(shown), g - Green(shown), b - Blue(shown)};
            int* ahead = &cur[static_cast<size_t>(x + 1 + dir) * 3];
            int* under = &next[static_cast<size_t>(x + 1) * 3];
            for (int k = 0; k < 3; ++k) {
                ahead[k] += err[k] * 7;
                under[k - 3 * dir] += err[k] * 3;
                under[k] += err[k] * 5;
                under[k + 3 * dir] += err[k];
            }
        }
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

// The nearest table entry of a colour (in RGB distance). The colour cube is
// cut into cells of 8 x 8 x 8; each cell remembers, once asked, the entries
// that can be nearest to some colour in it, so a look-up tries only those.
class NearestEntry {
public:
    explicit NearestEntry(const std::vector<uint32_t>& table)
        : table_(table), first_(32768), count_(32768, kUnknown) {}

    int operator()(int r, int g, int b) {
        const int cell = (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
        if (count_[cell] == kUnknown) Fill(cell);
        const uint8_t* c = candidates_.data() + first_[cell];
        const uint8_t* end = c + count_[cell];
        int best = *c, bestDist = 1 << 30;
        for (; c != end; ++c) {
            const uint32_t e = table_[*c];
            const int dr = Red(e) - r, dg = Green(e) - g, db = Blue(e) - b;
            const int d = dr * dr + dg * dg + db * db;
            if (d < bestDist) bestDist = d, best = *c;
        }
        return best;
    }
    uint32_t Color(int index) const { return table_[index]; }

private:
    void Fill(int cell) {
        const int lo[3] = {(cell >> 10) << 3, (cell >> 5 & 31) << 3, (cell & 31) << 3};
        std::vector<int> nearDist(table_.size());
        int bound = 1 << 30;
        for (size_t i = 0; i < table_.size(); ++i) {
            const int v[3] = {Red(table_[i]), Green(table_[i]), Blue(table_[i])};
            int dmin = 0, dmax = 0;
            for (int k = 0; k < 3; ++k) {
                const int below = lo[k] - v[k], above = v[k] - (lo[k] + 7);
                const int out = std::max({below, above, 0});
                const int apart = std::max(std::abs(v[k] - lo[k]), std::abs(v[k] - lo[k] - 7));
                dmin += out * out;
                dmax += apart * apart;
            }
            nearDist[i] = dmin;
            bound = std::min(bound, dmax);
        }
        const size_t start = candidates_.size();
        for (size_t i = 0; i < table_.size(); ++i)
            if (nearDist[i] <= bound &&
                std::find(table_.begin(), table_.begin() + i, table_[i]) == table_.begin() + i)
                candidates_.push_back(static_cast<uint8_t>(i));
        first_[cell] = static_cast<uint32_t>(start);
        count_[cell] = static_cast<uint16_t>(candidates_.size() - start);
    }

    static constexpr uint16_t kUnknown = 0xFFFF;
    std::vector<uint32_t> table_;
    std::vector<uint32_t> first_;
    std::vector<uint16_t> count_;
    std::vector<uint8_t> candidates_;
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
    std::vector<uint32_t> count(kBins), mode(kBins), votes(kBins);
    std::vector<uint64_t> sum(kBins * 3);
    for (uint32_t c : px) {
        const uint32_t i = binOf(c);
        ++count[i];
        sum[i * 3] += static_cast<uint32_t>(Red(c));
        sum[i * 3 + 1] += static_cast<uint32_t>(Green(c));
        sum[i * 3 + 2] += static_cast<uint32_t>(Blue(c));
        // The bin's most common colour, if one has more than half (a
        // majority vote), counted exactly below.
        if (votes[i] == 0) mode[i] = c;
        if (mode[i] == c)
            ++votes[i];
        else
            --votes[i];
    }
    std::fill(votes.begin(), votes.end(), 0);
    for (uint32_t c : px) {
        const uint32_t i = binOf(c);
        votes[i] += mode[i] == c;
    }
    // The occupied bins as points (their mean colour) weighted by their pixels.
    struct Point {
        double w, c[3];
        uint32_t mode;
        double modeCount;
    };
    std::vector<Point> points;
    for (int i = 0; i < kBins; ++i)
        if (count[i] > 0) {
            const double w = count[i];
            points.push_back({w,
                              {static_cast<double>(sum[i * 3]) / w,
                               static_cast<double>(sum[i * 3 + 1]) / w,
                               static_cast<double>(sum[i * 3 + 2]) / w},
                              mode[i],
                              static_cast<double>(votes[i])});
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

std::vector<uint32_t> ReduceToIndexed(const std::vector<uint32_t>& px, int w, int h, int bpp,
                                      const std::vector<uint32_t>& fixedTable,
                                      const TColorReduction& how, uint8_t* rows, int stride) {
    std::memset(rows, 0, static_cast<size_t>(stride) * h);
    auto put = [&](int x, int y, int index) {
        uint8_t* row = rows + static_cast<size_t>(y) * stride;
        if (bpp == 8)
            row[x] = static_cast<uint8_t>(index);
        else if (bpp == 4)
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
                     const int i = nearest(r, g, b);
                     shown = nearest.Color(i);
                     return i;
                 },
                 put);
    }
    return table;
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
