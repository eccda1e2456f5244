#include "write/palette_reduction.h"

#include "stages/lattice_cells.h"

#include <algorithm>
#include <cmath>
#include <queue>

namespace {

// One distinct colour and how many voxels have it.
struct WeightedColor {
    uint8_t rgb[3];
    int64_t weight;
};

// A box of median cut: a range of the distinct colours.
struct ColorBox {
    size_t begin, end;
    double error; // weighted squared distance to the box's mean
};

void boxMean(const std::vector<WeightedColor>& colors, size_t begin, size_t end, double mean[3],
             int64_t& weight) {
    double sum[3] = {0, 0, 0};
    weight = 0;
    for (size_t i = begin; i < end; ++i) {
        for (int k = 0; k < 3; ++k)
            sum[k] += double(colors[i].rgb[k]) * double(colors[i].weight);
        weight += colors[i].weight;
    }
    for (int k = 0; k < 3; ++k)
        mean[k] = weight > 0 ? sum[k] / double(weight) : 0;
}

ColorBox makeBox(const std::vector<WeightedColor>& colors, size_t begin, size_t end) {
    double mean[3];
    int64_t weight;
    boxMean(colors, begin, end, mean, weight);
    double error = 0;
    for (size_t i = begin; i < end; ++i)
        for (int k = 0; k < 3; ++k) {
            const double d = colors[i].rgb[k] - mean[k];
            error += d * d * double(colors[i].weight);
        }
    return ColorBox{begin, end, error};
}

// Splits the box along its widest channel where half its weight lies on
// either side; the two halves replace it in `colors`' order.
bool splitBox(std::vector<WeightedColor>& colors, const ColorBox& box, ColorBox& low,
              ColorBox& high) {
    if (box.end - box.begin < 2)
        return false;
    int channel = 0, widest = -1;
    for (int k = 0; k < 3; ++k) {
        uint8_t lo = 255, hi = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            lo = std::min(lo, colors[i].rgb[k]);
            hi = std::max(hi, colors[i].rgb[k]);
        }
        if (hi - lo > widest) {
            widest = hi - lo;
            channel = k;
        }
    }
    std::sort(colors.begin() + long(box.begin), colors.begin() + long(box.end),
              [channel](const WeightedColor& a, const WeightedColor& b) {
                  return a.rgb[channel] < b.rgb[channel];
              });
    int64_t total = 0;
    for (size_t i = box.begin; i < box.end; ++i)
        total += colors[i].weight;
    int64_t below = 0;
    size_t cut = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
        below += colors[i].weight;
        cut = i + 1;
        if (2 * below >= total)
            break;
    }
    low = makeBox(colors, box.begin, cut);
    high = makeBox(colors, cut, box.end);
    return true;
}

double squaredDistance(const uint8_t a[3], const double b[3]) {
    double sum = 0;
    for (int k = 0; k < 3; ++k) {
        const double d = a[k] - b[k];
        sum += d * d;
    }
    return sum;
}

// The palette sorted by red, for a nearest search that looks outwards from
// the colour's red and stops where red alone is farther than the best found.
struct PaletteSearch {
    std::vector<double> rgb;     // sorted by red
    std::vector<uint32_t> entry; // where each came from
};

PaletteSearch makeSearch(const std::vector<double>& palette) {
    PaletteSearch search;
    const size_t entries = palette.size() / 3;
    std::vector<uint32_t> order(entries);
    for (size_t p = 0; p < entries; ++p)
        order[p] = uint32_t(p);
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return palette[3 * a] < palette[3 * b]; });
    for (uint32_t p : order) {
        search.rgb.insert(search.rgb.end(), &palette[3 * p], &palette[3 * p] + 3);
        search.entry.push_back(p);
    }
    return search;
}

size_t nearest(const uint8_t rgb[3], const PaletteSearch& search) {
    const size_t entries = search.entry.size();
    size_t start = 0;
    while (start < entries && search.rgb[3 * start] < rgb[0])
        ++start;
    size_t best = 0;
    double bestDistance = INFINITY;
    auto consider = [&](size_t p) {
        const double d = squaredDistance(rgb, &search.rgb[3 * p]);
        if (d < bestDistance) {
            bestDistance = d;
            best = p;
        }
    };
    for (size_t p = start; p < entries; ++p) {
        const double dr = search.rgb[3 * p] - rgb[0];
        if (dr * dr >= bestDistance)
            break;
        consider(p);
    }
    for (size_t p = start; p-- > 0;) {
        const double dr = rgb[0] - search.rgb[3 * p];
        if (dr * dr >= bestDistance)
            break;
        consider(p);
    }
    return search.entry[best];
}

// Median cut to `maxColors` boxes, each standing for its weighted mean.
std::vector<double> medianCut(std::vector<WeightedColor>& colors, int maxColors) {
    auto larger = [](const ColorBox& a, const ColorBox& b) { return a.error < b.error; };
    std::priority_queue<ColorBox, std::vector<ColorBox>, decltype(larger)> boxes(larger);
    std::vector<ColorBox> done;
    boxes.push(makeBox(colors, 0, colors.size()));
    while (!boxes.empty() && int(boxes.size() + done.size()) < maxColors) {
        const ColorBox box = boxes.top();
        boxes.pop();
        ColorBox low, high;
        if (!splitBox(colors, box, low, high)) {
            done.push_back(box);
            continue;
        }
        boxes.push(low);
        boxes.push(high);
    }
    for (; !boxes.empty(); boxes.pop())
        done.push_back(boxes.top());
    std::vector<double> palette;
    for (const ColorBox& box : done) {
        double mean[3];
        int64_t weight;
        boxMean(colors, box.begin, box.end, mean, weight);
        palette.insert(palette.end(), mean, mean + 3);
    }
    return palette;
}

// Rounds of moving each entry to the weighted mean of the colours nearest
// to it; entries are rounded to bytes at the end.
void refine(const std::vector<WeightedColor>& colors, std::vector<double>& palette, int rounds) {
    const size_t entries = palette.size() / 3;
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> sums(3 * entries, 0.0);
        std::vector<double> weights(entries, 0.0);
        const PaletteSearch search = makeSearch(palette);
        for (const WeightedColor& c : colors) {
            const size_t p = nearest(c.rgb, search);
            for (int k = 0; k < 3; ++k)
                sums[3 * p + size_t(k)] += double(c.rgb[k]) * double(c.weight);
            weights[p] += double(c.weight);
        }
        for (size_t p = 0; p < entries; ++p)
            if (weights[p] > 0)
                for (int k = 0; k < 3; ++k)
                    palette[3 * p + size_t(k)] = sums[3 * p + size_t(k)] / weights[p];
    }
    for (double& value : palette)
        value = std::round(value);
}

} // namespace

void reducePalette(const uint8_t* colors, size_t count, int maxColors, ReducedPalette& out) {
    out = ReducedPalette();
    // The distinct colours, by sorting voxels on their packed colour.
    std::vector<CellEntry> byColor(count);
    for (size_t i = 0; i < count; ++i)
        byColor[i] = CellEntry{uint64_t(colors[3 * i]) << 16 | uint64_t(colors[3 * i + 1]) << 8 |
                                   colors[3 * i + 2],
                               uint32_t(i)};
    sortCellEntries(byColor, 24);
    std::vector<WeightedColor> distinct;
    std::vector<uint32_t> distinctOf(count);
    for (size_t i = 0; i < count; ++i) {
        if (i == 0 || byColor[i].key != byColor[i - 1].key) {
            const uint64_t key = byColor[i].key;
            distinct.push_back(
                WeightedColor{{uint8_t(key >> 16), uint8_t(key >> 8), uint8_t(key)}, 0});
        }
        distinct.back().weight++;
        distinctOf[byColor[i].index] = uint32_t(distinct.size() - 1);
    }
    std::vector<CellEntry>().swap(byColor);
    out.distinctColors = int64_t(distinct.size());

    std::vector<uint32_t> entryOf(distinct.size());
    if (int64_t(distinct.size()) <= maxColors) {
        for (size_t d = 0; d < distinct.size(); ++d) {
            out.colors.insert(out.colors.end(), distinct[d].rgb, distinct[d].rgb + 3);
            entryOf[d] = uint32_t(d);
        }
    } else {
        // Median cut reorders the colours it splits: keep the order the
        // voxels point into.
        std::vector<WeightedColor> working = distinct;
        std::vector<double> palette = medianCut(working, maxColors);
        refine(distinct, palette, 4);
        for (double value : palette)
            out.colors.push_back(uint8_t(std::clamp(value, 0.0, 255.0)));
        const PaletteSearch search =
            makeSearch(std::vector<double>(out.colors.begin(), out.colors.end()));
        for (size_t d = 0; d < distinct.size(); ++d)
            entryOf[d] = uint32_t(nearest(distinct[d].rgb, search));
    }
    out.indexOf.resize(count);
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t entry = entryOf[distinctOf[i]];
        out.indexOf[i] = uint8_t(entry);
        double reference[3];
        for (int k = 0; k < 3; ++k)
            reference[k] = out.colors[3 * entry + size_t(k)];
        const double distance = std::sqrt(squaredDistance(&colors[3 * i], reference));
        sum += distance;
        out.largestError = std::max(out.largestError, distance);
    }
    out.meanError = count ? sum / double(count) : 0;
}
