// vxlconv: turns meshes, point clouds and MagicaVoxel files into voxel files
// that voxscope opens. Errors are one line on stderr and exit status 1; only
// --help writes to stdout.
#include "convert/asset_import.h"
#include "convert/volume_pipeline.h"
#include "convert/vox_reader.h"
#include "convert/voxelizer.h"
#include "convert/vxl_writer.h"
#include "model/voxel_model.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define VXLCONV_ADDRESS_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VXLCONV_ADDRESS_CHECKED 1
#endif
#endif

static const char helpText[] =
    "Usage: vxlconv INPUT OUTPUT.vxl [OPTIONS]\n"
    "Turns a mesh, a point cloud or a MagicaVoxel .vox file into a voxel file\n"
    "for voxscope.\n"
    "\n"
    "INPUT is read by its contents:\n"
    "  .vox (MagicaVoxel)  every model shown in the file's scene, placed by its\n"
    "                      transforms, coloured from its palette; its z axis\n"
    "                      (up) becomes y. One voxel per voxel of the file.\n"
    "  anything else       through the Open Asset Import Library: OBJ, PLY, STL,\n"
    "                      glTF, COLLADA, 3DS, FBX, OFF and more. Surfaces become\n"
    "                      the voxels they touch (a closed surface stays closed),\n"
    "                      lines the voxels they pass, and each point of a point\n"
    "                      cloud fills the voxel it falls in.\n"
    "\n"
    "Colours: a voxel takes the mean of the colours that meet it: vertex colours,\n"
    "else the material's diffuse colour. Textures are not sampled: a textured\n"
    "surface takes its material's colour (a note on stderr says so). A source\n"
    "with no colours at all is coloured by height (blue low, white high).\n"
    "\n"
    "Options:\n"
    "  --voxel-size S    edge of a voxel, in the input's units (default for .vox: 1)\n"
    "  --resolution N    meshes and point clouds: N voxels along the longest side\n"
    "                    of the model's box (default 128; 2 to 2097152)\n"
    "  --max-voxels N    refuse to write more than N voxels (default 10000000;\n"
    "                    at most 59652323, what voxscope can draw)\n"
    "  --max-memory MB   cap on the memory used (default: 1024 MB, plus 64 times\n"
    "                    the input's size, plus 64 bytes per voxel allowed, at\n"
    "                    most the machine's memory); guards against damaged files\n"
    "  --help            show this text\n"
    "\n"
    "Voxel centres lie on a grid through the model's lowest corner, one voxel size\n"
    "apart. The output is written only when the conversion succeeds; on any error\n"
    "vxlconv prints one line on stderr and exits with status 1.\n"
    "\n"
    "Example: vxlconv bunny.ply bunny.vxl --resolution 200 && voxscope bunny.vxl\n";

static constexpr int64_t defaultMaxVoxels = 10000000;
static constexpr int64_t largestVoxFile = int64_t(1) << 30;

[[noreturn]] static void die(const std::string& message) {
    fprintf(stderr, "vxlconv: %s\n", message.c_str());
    exit(1);
}

static int64_t parseCount(const char* option, const char* text, int64_t low, int64_t high) {
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < low || value > high)
        die(std::string(option) + " needs a whole number from " + std::to_string(low) + " to " +
            std::to_string(high) + ", not \"" + text + "\"");
    return value;
}

static double parseSize(const char* option, const char* text) {
    char* end = nullptr;
    errno = 0;
    double value = strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE || !std::isfinite(value) || !(value > 0) ||
        !(float(value) > 0) || !std::isfinite(float(value)))
        die(std::string(option) + " needs a positive number, not \"" + text + "\"");
    return value;
}

static bool startsWithVoxMagic(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    char magic[4] = {0, 0, 0, 0};
    size_t got = fread(magic, 1, 4, file);
    fclose(file);
    return got == 4 && memcmp(magic, "VOX ", 4) == 0;
}

static bool hasVoxExtension(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = char(tolower(static_cast<unsigned char>(c)));
    return tail == ".vox";
}

static std::vector<uint8_t> readWholeFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file)
        die(std::string("cannot read ") + path + ": " + strerror(errno));
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (int64_t(bytes.size()) > largestVoxFile)
            die(std::string("cannot read ") + path + ": larger than 1 GiB");
    }
    bool failed = ferror(file);
    int savedErrno = errno;
    fclose(file);
    if (failed)
        die(std::string("cannot read ") + path + ": " + strerror(savedErrno));
    return bytes;
}

// A damaged file can make a reader ask for far more memory than the model
// could need (a vertex count of billions in a file of a few hundred bytes).
// The system grants such a request on paper and the reader then fills it for
// minutes, into swap or the out-of-memory killer. So the address space is
// capped at what a conversion of this input can reasonably take: a base for
// the program and its libraries, a multiple of the file's size for the
// imported scene, room for the voxels allowed, and never more than the
// machine's memory. A request beyond it fails at once and is reported;
// --max-memory sets the cap by hand. Builds with the address checker reserve
// terabytes of shadow memory and so go uncapped.
static constexpr int64_t mebibyte = int64_t(1) << 20;
static constexpr int64_t capBase = 1024 * mebibyte;
static constexpr int64_t capPerInputByte = 64;
static constexpr int64_t capPerVoxel = 64;

static int64_t defaultMemoryCap(int64_t inputBytes, int64_t maxVoxels) {
    int64_t cap = capBase + capPerInputByte * inputBytes + capPerVoxel * maxVoxels;
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        cap = std::min(cap, int64_t(pages) * int64_t(pageSize));
    return cap;
}

static void capAddressSpace(int64_t bytes) {
#ifndef VXLCONV_ADDRESS_CHECKED
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0)
        return;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(bytes)) {
        limit.rlim_cur = rlim_t(bytes);
        setrlimit(RLIMIT_AS, &limit);
    }
#else
    (void)bytes;
#endif
}

static int convert(int argc, char** argv);

int main(int argc, char** argv) {
    try {
        return convert(argc, argv);
    } catch (const std::bad_alloc&) {
        die("not enough memory for this conversion (the input may be damaged; --max-memory "
            "raises the limit)");
    }
}

static int convert(int argc, char** argv) {
    std::vector<const char*> paths;
    double voxelSize = 0;
    int64_t resolution = 0;
    int64_t maxVoxels = defaultMaxVoxels;
    int64_t memoryCap = 0;
    VolumeOptions volumeOptions;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            inlineValue = true;
        }
        auto takeValue = [&]() -> const char* {
            if (inlineValue)
                return argv[i] + (strlen(argv[i]) - value.size());
            if (i + 1 >= argc)
                die(arg + " needs a value (see vxlconv --help)");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            fputs(helpText, stdout);
            return 0;
        } else if (arg == "--voxel-size") {
            voxelSize = parseSize("--voxel-size", takeValue());
        } else if (arg == "--resolution") {
            resolution = parseCount("--resolution", takeValue(), 2, maxGridCells);
        } else if (arg == "--max-voxels") {
            maxVoxels = parseCount("--max-voxels", takeValue(), 1, maxVoxelCount);
        } else if (arg == "--threshold") {
            const char* text = takeValue();
            char* end = nullptr;
            double value = strtod(text, &end);
            if (end == text || *end != '\0' || !std::isfinite(value))
                die(std::string("--threshold needs a number, not \"") + text + "\"");
            volumeOptions.threshold.given = true;
            volumeOptions.threshold.value = value;
        } else if (arg == "--colors" || arg == "--colours") {
            const char* text = takeValue();
            if (!parseColorMode(text, volumeOptions.colors))
                die(std::string("--colors needs height, labels, grey or map, not \"") + text +
                    "\"");
        } else if (arg == "--max-memory") {
            memoryCap = parseCount("--max-memory", takeValue(), 64, int64_t(1) << 30) * mebibyte;
        } else if (arg.size() > 1 && arg[0] == '-') {
            die("unknown option " + arg + " (see vxlconv --help)");
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.size() != 2)
        die("needs an input and an output file: vxlconv INPUT OUTPUT.vxl (see vxlconv --help)");
    if (voxelSize > 0 && resolution > 0)
        die("give either --voxel-size or --resolution, not both");
    const char* input = paths[0];
    const char* output = paths[1];
    VolumeFormat volumeFormat = volumeFormatOfFile(input);
    struct stat info;
    int64_t inputBytes = volumeFormat != VolumeFormat::none ? volumeInputBytes(input, volumeFormat)
                         : stat(input, &info) == 0          ? int64_t(info.st_size)
                                                            : 0;
    int64_t cap = memoryCap > 0 ? memoryCap : defaultMemoryCap(inputBytes, maxVoxels);
    capAddressSpace(cap);

    VoxelList voxels;
    std::string error;
    bool volumeOptionsGiven =
        volumeOptions.threshold.given || volumeOptions.colors != ColorMode::automatic;
    if (volumeFormat == VolumeFormat::none && volumeOptionsGiven)
        die("--threshold and --colors apply to binvox, NumPy, NRRD and NIfTI inputs");
    if (volumeFormat != VolumeFormat::none) {
        if (resolution > 0)
            die("--resolution applies to meshes and point clouds, not to grids");
        volumeOptions.voxelSize = voxelSize;
        volumeOptions.maxVoxels = maxVoxels;
        volumeOptions.maxBytes = cap;
        std::vector<std::string> notes;
        bool ok = convertVolumeFile(input, volumeFormat, volumeOptions, voxels, notes, error);
        for (const std::string& note : notes)
            fprintf(stderr, "vxlconv: note: %s: %s\n", input, note.c_str());
        if (!ok)
            die(error);
    } else if (startsWithVoxMagic(input) || hasVoxExtension(input)) {
        if (resolution > 0)
            die("--resolution applies to meshes and point clouds; scale a .vox file with "
                "--voxel-size");
        std::vector<uint8_t> bytes = readWholeFile(input);
        VoxScene scene;
        if (!parseVox(bytes.data(), bytes.size(), scene, error))
            die(std::string("cannot read ") + input + ": " + error);
        if (!placeVoxScene(scene, float(voxelSize > 0 ? voxelSize : 1.0), maxVoxels, voxels, error))
            die(std::string(input) + ": " + error);
    } else {
        SourceGeometry geometry;
        ImportNotes notes;
        if (!importAsset(input, geometry, notes, error))
            die(error);
        if (notes.texturesIgnored)
            fprintf(stderr,
                    "vxlconv: note: %s has textures, which are not sampled; textured "
                    "surfaces take their material's colour\n",
                    input);
        GridOptions options;
        options.voxelSize = voxelSize;
        if (resolution > 0)
            options.resolution = resolution;
        options.maxVoxels = maxVoxels;
        int64_t skipped = 0;
        if (!voxelizeGeometry(geometry, options, voxels, skipped, error))
            die(std::string(input) + ": " + error);
        if (skipped > 0)
            fprintf(stderr,
                    "vxlconv: note: left out %lld points, lines or triangles of %s whose "
                    "coordinates are not finite numbers\n",
                    static_cast<long long>(skipped), input);
    }
    if (voxels.colors.empty())
        die(std::string(input) + ": no voxels to write");
    if (!writeVoxelFile(output, voxels, error))
        die(error);
    return 0;
}
