#include "ui/ColorTable.h"

#include "ui/Parallel.h"

#include <algorithm>
#include <array>

namespace ui {

namespace {

using namespace pixel;
inline int Clamp255(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

constexpr int kBins = 32768;
// The bin of a colour: its top 5 bits a channel.
inline uint32_t BinOf(uint32_t c) { return (c >> 9 & 0x7C00) | (c >> 6 & 0x3E0) | (c >> 3 & 0x1F); }
// A colour's place in its bin: its low 3 bits a channel.
inline uint32_t PlaceOf(uint32_t c) { return (c >> 10 & 0x1C0) | (c >> 5 & 0x38) | (c & 7); }

// How many pixels each bin has, and the sums of their low 3 bits a channel
// (a bin's colours differ only there).
struct Histogram {
    std::vector<uint32_t> count, low[3];

    Histogram() : count(kBins) {
        for (auto& l : low) l.assign(kBins, 0);
    }
    Histogram Empty() const { return Histogram(); }
    void Add(const Histogram& other) {
        for (int i = 0; i < kBins; ++i) {
            count[i] += other.count[i];
            for (int k = 0; k < 3; ++k) low[k][i] += other.low[k][i];
        }
    }
    // Counts the rows as the pieces come; the other thread's counts are
    // kept apart and added once it is done.
    void Count(TPixelRows px, int w, TPieces& rows) {
        // A pixel adds to one word of its bin: the low bits of its
        // channels in a byte each and one to the top byte, which starts at
        // 224 so that its 32nd pixel carries out of the word, before any
        // byte can overflow; the word is then emptied into the full sums.
        constexpr uint32_t kStart = 224u << 24;
        std::vector<uint32_t> packed(kBins, kStart);
        auto empty = [&](uint32_t bin, uint32_t word, uint32_t pixels) {
            count[bin] += pixels;
            low[0][bin] += word >> 16 & 0xFF;
            low[1][bin] += word >> 8 & 0xFF;
            low[2][bin] += word & 0xFF;
        };
        for (int first, last; rows.Next(first, last);)
            for (int y = first; y < last; ++y) {
                const uint32_t* row = px[y];
                for (int x = 0; x < w; ++x) {
                    const uint32_t c = row[x];
                    const uint32_t bin = BinOf(c);
                    if (__builtin_add_overflow(packed[bin], (c & 0x070707) | 1u << 24, &packed[bin])) {
                        empty(bin, packed[bin], 32);
                        packed[bin] = kStart;
                    }
                }
            }
        for (uint32_t bin = 0; bin < kBins; ++bin) empty(bin, packed[bin], (packed[bin] >> 24) - 224);
    }
};

// Runs count(rows, counts) on this thread and, for a large picture unless
// `alone`, count(rows, other) on another, with other empty counts that are
// then added to these.
template <class Counts, class Count>
void CountOnTwoThreads(Counts& counts, int w, int h, bool alone, Count count) {
    TPieces rows(h, 16);
    if (alone || static_cast<long long>(w) * h < kPixelsForTwoThreads) {
        count(rows, counts);
        return;
    }
    Counts other = counts.Empty();
    {
        TBackground helper(true, [&] { count(rows, other); });
        count(rows, counts);
    }
    counts.Add(other);
}

// The nearest of a set of colours (in RGB distance), the first of equals:
// the colours sorted along the channel they spread most in, a search goes
// outward from a point's place in that order until the distance in that
// channel alone is more than the best found.
class Nearest {
public:
    explicit Nearest(const std::vector<std::array<double, 3>>& means) : means_(means) {
        double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
        for (const auto& m : means)
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], m[k]), hi[k] = std::max(hi[k], m[k]);
        for (int k = 1; k < 3; ++k)
            if (hi[k] - lo[k] > hi[axis_] - lo[axis_]) axis_ = k;
        for (size_t j = 0; j < means.size(); ++j) order_.push_back({means[j][axis_], j});
        std::sort(order_.begin(), order_.end());
    }
    // `guess` is where the search starts.
    size_t operator()(const double* c, size_t guess) const {
        size_t best = guess;
        double bestDist = Distance(c, guess);
        auto consider = [&](size_t j) {
            const double d = Distance(c, j);
            if (d < bestDist || (d == bestDist && j < best)) bestDist = d, best = j;
        };
        const auto from = std::lower_bound(order_.begin(), order_.end(), std::pair{c[axis_], size_t{0}});
        // A little short of the bound, so that no rounding can stop it early.
        for (auto i = from; i != order_.end(); ++i) {
            const double gap = i->first - c[axis_];
            if (gap * gap > bestDist * 1.000001) break;
            consider(i->second);
        }
        for (auto i = from; i != order_.begin();) {
            --i;
            const double gap = c[axis_] - i->first;
            if (gap * gap > bestDist * 1.000001) break;
            consider(i->second);
        }
        return best;
    }

private:
    double Distance(const double* c, size_t j) const {
        const double dr = means_[j][0] - c[0], dg = means_[j][1] - c[1], db = means_[j][2] - c[2];
        return dr * dr + dg * dg + db * db;
    }
    const std::vector<std::array<double, 3>>& means_;
    std::vector<std::pair<double, size_t>> order_;
    int axis_ = 0;
};

}  // namespace

// A table of up to n colours for a picture. On a histogram of 32 levels a
// channel, the box of colours with the largest squared error is cut in two
// at the median of its most spread channel until there are n boxes; their
// means are then refined by a few rounds of moving each colour to the mean
// of the pixels nearest it. A colour that more than half of those pixels
// have exactly takes the place of their mean, so that the flat areas of a
// screenshot keep their colour.
TAdaptiveTable::TAdaptiveTable(TPixelRows px, int width, int height, int n) {
    Histogram hist;
    CountOnTwoThreads(hist, width, height, false,
                      [&](TPieces& rows, Histogram& counts) { counts.Count(px, width, rows); });
    // The occupied bins as points (their mean colour) weighted by their pixels.
    struct Point {
        double w, c[3];
        uint32_t bin;
    };
    std::vector<Point> points;
    for (int i = 0; i < kBins; ++i)
        if (hist.count[i] > 0) {
            const double w = hist.count[i];
            const int level[3] = {i >> 10 << 3, (i >> 5 & 31) << 3, (i & 31) << 3};
            double mean[3];
            for (int k = 0; k < 3; ++k)
                mean[k] = static_cast<double>(uint64_t{hist.count[i]} * static_cast<uint32_t>(level[k]) +
                                              hist.low[k][i]) /
                          w;
            points.push_back({w, {mean[0], mean[1], mean[2]}, static_cast<uint32_t>(i)});
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
    // Each point's mean, first that of its box.
    std::vector<size_t> owner(points.size());
    for (size_t b = 0; b < boxes.size(); ++b)
        std::fill(owner.begin() + static_cast<std::ptrdiff_t>(boxes[b].begin),
                  owner.begin() + static_cast<std::ptrdiff_t>(boxes[b].end), b);
    auto assign = [&] {
        const Nearest nearest(means);
        for (size_t i = 0; i < points.size(); ++i) owner[i] = nearest(points[i].c, owner[i]);
    };
    for (int round = 0; round < 4; ++round) {
        assign();
        std::vector<std::array<double, 4>> acc(means.size(), {0, 0, 0, 0});
        for (size_t i = 0; i < points.size(); ++i) {
            const Point& p = points[i];
            const size_t j = owner[i];
            for (int k = 0; k < 3; ++k) acc[j][k] += p.w * p.c[k];
            acc[j][3] += p.w;
        }
        for (size_t j = 0; j < means.size(); ++j)
            if (acc[j][3] > 0)
                for (int k = 0; k < 3; ++k) means[j][k] = acc[j][k] / acc[j][3];
    }
    for (const auto& m : means)
        colors_.push_back(Pack(Clamp255(static_cast<int>(m[0] + 0.5)),
                               Clamp255(static_cast<int>(m[1] + 0.5)),
                               Clamp255(static_cast<int>(m[2] + 0.5))));
    assign();
    weight_.assign(means.size(), 0);
    for (size_t i = 0; i < points.size(); ++i) weight_[owner[i]] += points[i].w;
    // Only a colour of a bin that has more than half of its entry's pixels
    // can have that many itself: those bins' colours are to be counted.
    slot_.assign(kBins, 0);
    entryOf_.assign(1, 0);
    for (size_t i = 0; i < points.size(); ++i)
        if (points[i].w * 2 > weight_[owner[i]]) {
            slot_[points[i].bin] = static_cast<uint16_t>(entryOf_.size());
            entryOf_.push_back(owner[i]);
        }
}

TAdaptiveTable::~TAdaptiveTable() = default;

std::vector<uint32_t> TAdaptiveTable::Count(TPixelRows px, int width, int height, int every, bool alone) const {
    // The colours of the bins to count, 512 a bin. Slot 0, the other bins',
    // is counted into too rather than tested for; a run of one colour is
    // counted at its end.
    struct Exact {
        std::vector<uint32_t> count;
        Exact Empty() const { return Exact{std::vector<uint32_t>(count.size())}; }
        void Add(const Exact& other) {
            for (size_t i = 0; i < count.size(); ++i) count[i] += other.count[i];
        }
    } exact{std::vector<uint32_t>(entryOf_.size() * 512)};
    CountOnTwoThreads(exact, width, (height + every - 1) / every, alone, [&](TPieces& rows, Exact& into) {
        for (int first, last; rows.Next(first, last);)
            for (int y = first * every; y < last * every && y < height; y += every) {
                const uint32_t* row = px[y];
                uint32_t run = row[0] & 0xFFFFFF, length = 0;
                for (int x = 0; x < width; ++x) {
                    const uint32_t c = row[x] & 0xFFFFFF;
                    if (c != run) {
                        into.count[slot_[BinOf(run)] * 512u + PlaceOf(run)] += length;
                        run = c;
                        length = 0;
                    }
                    ++length;
                }
                into.count[slot_[BinOf(run)] * 512u + PlaceOf(run)] += length;
            }
    });
    return std::move(exact.count);
}

bool TAdaptiveTable::LikelySettled(TPixelRows px, int width, int height) const {
    constexpr int kEvery = 16;
    const std::vector<uint32_t> counts = Count(px, width, height, kEvery, true);
    // A colour of more than 2 in 5 of its entry's share of those rows.
    const double share = static_cast<double>((height + kEvery - 1) / kEvery) / height;
    for (size_t s = 1; s < entryOf_.size(); ++s) {
        const uint32_t most = *std::max_element(counts.begin() + s * 512, counts.begin() + (s + 1) * 512);
        if (most * 5.0 > weight_[entryOf_[s]] * share * 2) return false;
    }
    return true;
}

std::vector<uint32_t> TAdaptiveTable::Settled(TPixelRows px, int width, int height, bool alone) const {
    std::vector<uint32_t> table = colors_;
    if (!Unsettled()) return table;
    const std::vector<uint32_t> exact = Count(px, width, height, 1, alone);
    for (uint32_t bin = 0; bin < kBins; ++bin)
        if (const uint32_t s = slot_[bin]) {
            const uint32_t* counts = &exact[s * 512];
            const uint32_t place = static_cast<uint32_t>(std::max_element(counts, counts + 512) - counts);
            const size_t j = entryOf_[s];
            if (static_cast<double>(counts[place]) * 2 > weight_[j])
                table[j] = (bin >> 10) << 19 | (place >> 6) << 16 | (bin >> 5 & 31) << 11 |
                           (place >> 3 & 7) << 8 | (bin & 31) << 3 | (place & 7);
        }
    return table;
}

}  // namespace ui
