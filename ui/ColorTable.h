// The table of colours made for a picture when it has more than its new
// format holds.
#pragma once

#include "ui/ColorReduction.h"

#include <cstdint>
#include <vector>

namespace ui {

// A table of up to n colours (n at most 256) for a picture's pixels, made
// from a histogram of them. An entry whose pixels may mostly be of one
// colour, which then takes the entry's place, is settled only by counting
// those pixels' colours: a pass over the picture of its own.
class TAdaptiveTable {
public:
    TAdaptiveTable(TPixelRows pixels, int width, int height, int n);
    ~TAdaptiveTable();

    // The entries; while Unsettled(), some may yet change.
    const std::vector<uint32_t>& Colors() const { return colors_; }
    bool Unsettled() const { return entryOf_.size() > 1; }
    // The entries once settled: on this thread alone, or sharing the rows
    // with another.
    std::vector<uint32_t> Settled(TPixelRows pixels, int width, int height, bool alone) const;
    // Whether settling will most likely leave the entries as they are, by
    // the colours of one row in 16.
    bool LikelySettled(TPixelRows pixels, int width, int height) const;

private:
    // The pixels of each colour of the bins to count, in one row in `every`.
    std::vector<uint32_t> Count(TPixelRows pixels, int width, int height, int every, bool alone) const;

    std::vector<uint32_t> colors_;
    // The bins to count (their slot, from 1) and for each slot its entry.
    std::vector<uint16_t> slot_;
    std::vector<size_t> entryOf_;
    // Each entry's pixels.
    std::vector<double> weight_;
};

}  // namespace ui
