// Writes the benchmark models as voxel text files, deterministically: the same
// kind, count and seed give the same bytes on every machine (integer
// arithmetic only, numbers printed from integers).
//
//   make_models KIND COUNT [SEED] > model.vxl      (or -o FILE after KIND)
//
//   cloud    COUNT voxels at random centres in [-50, 50) with four decimals,
//            random colours, voxel size 0.5 (about 36 bytes a voxel)
//   ball     a solid ball on a half-unit lattice, voxel size 0.5, coloured by
//            position; the top cap is left partly open to give exactly COUNT
//   terrain  solid columns of a rolling heightmap (value noise), voxel size 1,
//            coloured by height; the last column is cut to give exactly COUNT
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// splitmix64: a small generator whose sequence is fixed by its seed.
struct Random {
    uint64_t state;
};

uint64_t nextRandom(Random* r) {
    uint64_t z = (r->state += 0x9E3779B97F4A7C15u);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return z ^ (z >> 31);
}

uint32_t hash3(uint64_t seed, int64_t a, int64_t b) {
    Random r = {seed ^ (uint64_t(a) * 0x9E3779B1u) ^ (uint64_t(b) * 0x85EBCA77u << 20)};
    return uint32_t(nextRandom(&r) >> 32);
}

// Output goes through one large buffer: fprintf per number would dominate.
struct Writer {
    FILE* file;
    std::string buffer;
};

void flush(Writer* w) {
    if (fwrite(w->buffer.data(), 1, w->buffer.size(), w->file) != w->buffer.size()) {
        perror("make_models: write");
        exit(1);
    }
    w->buffer.clear();
}

void put(Writer* w, const char* text) {
    w->buffer += text;
    if (w->buffer.size() > (1u << 20))
        flush(w);
}

// `units` divided by 10^places, written exactly: "-12.3400", "7.5", "3".
std::string fixed(int64_t units, int places) {
    int64_t scale = 1;
    for (int i = 0; i < places; ++i)
        scale *= 10;
    uint64_t magnitude = units < 0 ? uint64_t(-units) : uint64_t(units);
    char text[48];
    if (places == 0)
        snprintf(text, sizeof text, "%s%llu", units < 0 ? "-" : "", (unsigned long long)magnitude);
    else
        snprintf(text, sizeof text, "%s%llu.%0*llu", units < 0 ? "-" : "",
                 (unsigned long long)(magnitude / uint64_t(scale)), places,
                 (unsigned long long)(magnitude % uint64_t(scale)));
    return text;
}

void putVoxel(Writer* w, const std::string& x, const std::string& y, const std::string& z, int r,
              int g, int b) {
    char line[160];
    snprintf(line, sizeof line, "%s %s %s %d %d %d\n", x.c_str(), y.c_str(), z.c_str(), r, g, b);
    put(w, line);
}

// Half units: 25 -> "12.5", -4 -> "-2".
std::string halves(int64_t n) {
    return n % 2 ? fixed(n * 5, 1) : fixed(n / 2, 0);
}

void writeCloud(Writer* w, int64_t count, uint64_t seed) {
    Random r = {seed};
    char header[64];
    snprintf(header, sizeof header, "%lld 0.5\n", (long long)count);
    put(w, header);
    for (int64_t i = 0; i < count; ++i) {
        std::string c[3];
        for (auto& coordinate : c)
            coordinate = fixed(int64_t(nextRandom(&r) % 1000000) - 500000, 4);
        uint64_t color = nextRandom(&r);
        putVoxel(w, c[0], c[1], c[2], int(color & 255), int(color >> 8 & 255),
                 int(color >> 16 & 255));
    }
}

// Lattice points (in half units) with x^2 + y^2 + z^2 <= radius2.
int64_t ballPoints(int64_t radius2) {
    int64_t reach = int64_t(std::sqrt(double(radius2))) + 1, total = 0;
    for (int64_t z = -reach; z <= reach; ++z)
        for (int64_t y = -reach; y <= reach; ++y) {
            int64_t rest = radius2 - z * z - y * y;
            if (rest < 0)
                continue;
            int64_t x = int64_t(std::sqrt(double(rest)));
            while (x * x > rest)
                --x;
            while ((x + 1) * (x + 1) <= rest)
                ++x;
            total += 2 * x + 1;
        }
    return total;
}

void writeBall(Writer* w, int64_t count, uint64_t seed) {
    // The smallest squared radius that holds `count` points.
    int64_t lo = 0, hi = 1;
    while (ballPoints(hi) < count)
        hi *= 2;
    while (lo < hi) {
        int64_t mid = (lo + hi) / 2;
        if (ballPoints(mid) >= count)
            hi = mid;
        else
            lo = mid + 1;
    }
    int64_t radius2 = hi, reach = int64_t(std::sqrt(double(radius2))) + 1, left = count;
    char header[64];
    snprintf(header, sizeof header, "%lld 0.5\n", (long long)count);
    put(w, header);
    for (int64_t z = -reach; z <= reach && left > 0; ++z)
        for (int64_t y = -reach; y <= reach && left > 0; ++y)
            for (int64_t x = -reach; x <= reach && left > 0; ++x) {
                if (x * x + y * y + z * z > radius2)
                    continue;
                uint32_t h = hash3(seed, x * 4096 + y, z);
                int shade = int(h & 15) - 8;
                auto channel = [shade](int64_t v, int64_t r) {
                    int c = int(128 + 120 * v / (r ? r : 1)) + shade;
                    return c < 0 ? 0 : c > 255 ? 255 : c;
                };
                putVoxel(w, halves(x), halves(y), halves(z), channel(x, reach), channel(y, reach),
                         channel(z, reach));
                --left;
            }
}

// Smooth value noise in [0, 65536) with cells of `period` columns.
int64_t valueNoise(uint64_t seed, int64_t x, int64_t z, int64_t period) {
    int64_t cx = x / period, cz = z / period;
    int64_t fx = (x % period) * 65536 / period, fz = (z % period) * 65536 / period;
    auto smooth = [](int64_t t) { return t * t / 65536 * (3 * 65536 - 2 * t) / 65536; };
    int64_t tx = smooth(fx), tz = smooth(fz);
    auto corner = [&](int64_t i, int64_t k) { return int64_t(hash3(seed, cx + i, cz + k) >> 16); };
    int64_t top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * tx / 65536;
    int64_t bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * tx / 65536;
    return top + (bottom - top) * tz / 65536;
}

int terrainHeight(uint64_t seed, int64_t x, int64_t z) {
    int64_t total = 4 * valueNoise(seed, x, z, 64) + 2 * valueNoise(seed + 1, x, z, 24) +
                    valueNoise(seed + 2, x, z, 8);
    return int(1 + total * 40 / (7 * 65536)); // 1 to 40 voxels
}

void writeTerrain(Writer* w, int64_t count, uint64_t seed) {
    // Columns average about 21 voxels; grow the square until it holds count.
    int64_t side = int64_t(std::sqrt(double(count) / 21.0)) + 1;
    for (;;) {
        int64_t total = 0;
        for (int64_t z = 0; z < side && total < count; ++z)
            for (int64_t x = 0; x < side; ++x)
                total += terrainHeight(seed, x, z);
        if (total >= count)
            break;
        side += side / 16 + 1;
    }
    char header[64];
    snprintf(header, sizeof header, "%lld 1\n", (long long)count);
    put(w, header);
    int64_t left = count;
    for (int64_t z = 0; z < side && left > 0; ++z)
        for (int64_t x = 0; x < side && left > 0; ++x) {
            int height = terrainHeight(seed, x, z);
            for (int y = 0; y < height && left > 0; ++y, --left) {
                int band = y * 5 / 40; // water, sand, grass, rock, snow
                static const int colors[5][3] = {{38, 92, 178},
                                                 {214, 196, 138},
                                                 {86, 160, 62},
                                                 {128, 126, 122},
                                                 {242, 244, 250}};
                int shade = int(hash3(seed, x * 64 + y, z) & 15) - 8;
                auto c = [shade](int v) {
                    v += shade;
                    return v < 0 ? 0 : v > 255 ? 255 : v;
                };
                putVoxel(w, fixed(x - side / 2, 0), fixed(y - 20, 0), fixed(z - side / 2, 0),
                         c(colors[band][0]), c(colors[band][1]), c(colors[band][2]));
            }
        }
}

[[noreturn]] void usage() {
    fprintf(stderr, "usage: make_models cloud|ball|terrain [-o FILE] COUNT [SEED]\n");
    exit(2);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        usage();
    std::string kind = argv[1];
    const char* output = nullptr;
    int next = 2;
    if (strcmp(argv[next], "-o") == 0) {
        if (argc < 5)
            usage();
        output = argv[next + 1];
        next += 2;
    }
    char* end = nullptr;
    long long count = strtoll(argv[next], &end, 10);
    if (*end || count < 0)
        usage();
    uint64_t seed = next + 1 < argc ? strtoull(argv[next + 1], nullptr, 10) : 1;
    Writer w = {output ? fopen(output, "wb") : stdout, {}};
    if (!w.file) {
        perror(output);
        return 1;
    }
    if (kind == "cloud")
        writeCloud(&w, count, seed);
    else if (kind == "ball")
        writeBall(&w, count, seed);
    else if (kind == "terrain")
        writeTerrain(&w, count, seed);
    else
        usage();
    flush(&w);
    if (fclose(w.file) != 0) {
        perror("make_models: close");
        return 1;
    }
    return 0;
}
