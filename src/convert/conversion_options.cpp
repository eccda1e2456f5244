#include "convert/conversion_options.h"

#include "convert/header_text.h"
#include "convert/voxel_grid.h"
#include "model/voxel_model.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

const char vxlconvHelpText[] =
    "Usage: vxlconv INPUT OUTPUT [OPTIONS]\n"
    "Turns a mesh, a point cloud, a MagicaVoxel .vox file, a voxel file, a voxel\n"
    "grid (binvox, NumPy) or a volume (NRRD, NIfTI) into a voxel file for\n"
    "voxscope, or the voxels into a mesh, a .vox file or a web page for others.\n"
    "\n"
    "INPUT is read by its contents:\n"
    "  .vox (MagicaVoxel)  every model shown in the file's scene, placed by its\n"
    "                      transforms, coloured from its palette; its z axis\n"
    "                      (up) becomes y. One voxel per voxel of the file.\n"
    "  .vxl (voxel file)   read exactly as voxscope reads it, to be hollowed or\n"
    "                      made coarser; voxels not merged keep their positions\n"
    "                      to the bit.\n"
    "  binvox              the grid's occupied voxels (stored y fastest, then z,\n"
    "                      then x), centred on translate + (index + 0.5) x scale\n"
    "                      / dim; coloured by height.\n"
    "  NumPy .npy, .npz    a 3-D array (an .npz archive's first, stored or\n"
    "                      deflated) of bool, integers or floats, C or Fortran\n"
    "                      order, either byte order; element [i][j][k] at (i, j,\n"
    "                      k). Nonzero elements are voxels: bool coloured by\n"
    "                      height, integers as labels (a fixed palette, 0 empty);\n"
    "                      floats need --threshold and take the colour map.\n"
    "  NRRD, NIfTI-1       volumes (.nrrd; .nhdr and its data file; .nii, .nii.gz,\n"
    "                      .hdr and .img; raw or gzip): need --threshold, grey by\n"
    "                      value. Unequal spacings become cubes of the largest,\n"
    "                      each a voxel when any sample in it passes, coloured\n"
    "                      by their mean.\n"
    "  gzip                any of these compressed: read by what it holds.\n"
    "  anything else       through the Open Asset Import Library: OBJ, PLY, STL,\n"
    "                      glTF, COLLADA, 3DS, FBX, OFF and more. Surfaces become\n"
    "                      the voxels they touch (a closed surface stays closed),\n"
    "                      lines the voxels they pass, and each point of a point\n"
    "                      cloud fills the voxel it falls in.\n"
    "\n"
    "OUTPUT is written by its extension (a name without one is a .vxl file):\n"
    "  .vxl                the voxel file voxscope opens\n"
    "  .glb, .gltf         glTF 2.0, unlit, as voxscope shows it; .gltf writes\n"
    "                      NAME.bin (and NAME.png for a greedy mesh) beside it\n"
    "  .obj                Wavefront OBJ with NAME.mtl (and NAME.png for a greedy\n"
    "                      mesh); other meshes carry vertex colours\n"
    "  .ply                binary PLY with vertex colours (a greedy mesh merges\n"
    "                      faces of one colour only)\n"
    "  .stl                binary STL, no colours (for 3D printing)\n"
    "  .vox                MagicaVoxel: one unit per lattice step, models of at\n"
    "                      most 256 a side, at most 255 colours (more are reduced\n"
    "                      by median cut; a note says how far they moved)\n"
    "  .html               one web page that shows the voxels in any browser with\n"
    "                      WebGL, offline: the greedy .glb and a small viewer,\n"
    "                      opening on voxscope's first frame; turn, pan and zoom\n"
    "                      as in voxscope, space frames again\n"
    "\n"
    "Colours: a voxel takes the mean of the colours that meet it: vertex colours,\n"
    "else the material's diffuse colour. Textures are not sampled: a textured\n"
    "surface takes its material's colour (a note on stderr says so). A source\n"
    "with no colours at all is coloured by height (blue low, white high).\n"
    "\n"
    "Options:\n"
    "  --voxel-size S    meshes and point clouds: edge of a voxel, in the input's\n"
    "                    units; voxel inputs (.vox, .vxl, grids, volumes): a\n"
    "                    coarser grid of cells of edge S (at least the input's\n"
    "                    voxel size)\n"
    "  --resolution N    meshes and point clouds: N voxels along the longest side\n"
    "                    of the model's box (default 128; 2 to 2097152); voxel\n"
    "                    inputs: a coarser grid with N cells along that side\n"
    "  --hollow          leave out every voxel whose six face neighbours are all\n"
    "                    there: seen from outside the picture is the same, but a\n"
    "                    cut through the model (the near plane inside it) shows\n"
    "                    an empty shell instead of a solid interior\n"
    "  --threshold T     grids and volumes: a voxel where the value (NIfTI: after\n"
    "                    its scaling) is at least T; needed for floating-point\n"
    "                    arrays and for volumes\n"
    "  --colors C        grids and volumes: height, labels (the palette, by\n"
    "                    integer value), grey or map (viridis), the last two\n"
    "                    from the lowest value that passes to the highest\n"
    "  --mesh M          mesh outputs: greedy (default: faces between voxels left\n"
    "                    out, flat sides merged into rectangles, colours in a\n"
    "                    texture), faces (every exposed face, shared vertices:\n"
    "                    closed wherever the voxel set is) or cubes (every voxel\n"
    "                    a whole cube, as voxscope draws it)\n"
    "  --max-voxels N    refuse to write more than N voxels (default 10000000;\n"
    "                    at most 59652323, what voxscope can draw)\n"
    "  --max-memory MB   cap on the memory used (default: 1024 MB, plus 64 times\n"
    "                    the input's size, plus 64 bytes per voxel allowed, at\n"
    "                    most the machine's memory); guards against damaged files\n"
    "  --help            show this text\n"
    "\n"
    "Voxel centres lie on a grid through the model's lowest corner, one voxel size\n"
    "apart. A coarser grid starts at the lowest corner of the input's voxels;\n"
    "each cell holds the voxels whose centres fall in it, coloured by their\n"
    "rounded mean. Neighbours for --hollow are found on the input's lattice: for\n"
    "a .vxl file, the lattice through its first voxel, one voxel size apart; a\n"
    "voxel lies on it when it is within 1/1024 of a voxel size (or eight float\n"
    "spacings) of a lattice point on every axis, and voxels off it are kept as\n"
    "they are. Kept voxels keep their positions to the bit. The output (and each\n"
    "file it brings along) is written beside OUTPUT and renamed into place only\n"
    "when the conversion succeeds: a failed or interrupted run leaves an\n"
    "existing OUTPUT as it was, and only a regular file is ever replaced. On a\n"
    "terminal, a line on stderr shows the progress of conversions that take more\n"
    "than a second. On any error vxlconv prints one line on stderr and exits\n"
    "with status 1.\n"
    "\n"
    "Examples: vxlconv bunny.ply bunny.vxl --resolution 200 && voxscope bunny.vxl\n"
    "          vxlconv scan.vxl light.vxl --hollow --resolution 400\n"
    "          vxlconv head.nii.gz bone.vxl --threshold 300 --hollow\n"
    "          vxlconv castle.vox castle.glb && vxlconv scan.vxl print.stl --mesh faces\n";

namespace {

bool parseCount(const std::string& option, const char* text, int64_t low, int64_t high,
                int64_t& out, std::string& error) {
    int64_t value = 0;
    if (!wordToInt(text, value) || value < low || value > high) {
        error = option + " needs a whole number from " + std::to_string(low) + " to " +
                std::to_string(high) + ", not \"" + text + "\"";
        return false;
    }
    out = value;
    return true;
}

bool parseSize(const std::string& option, const char* text, double& out, std::string& error) {
    // Out of double range reads as infinity or as zero or a subnormal, which
    // the float checks refuse.
    double value = 0;
    if (!wordToDouble(text, value) || !std::isfinite(value) || !(value > 0) ||
        !(float(value) > 0) || !std::isfinite(float(value))) {
        error = option + " needs a positive number, not \"" + text + "\"";
        return false;
    }
    out = value;
    return true;
}

bool parseThreshold(const char* text, ThresholdRule& rule, std::string& error) {
    double value = 0;
    if (!wordToDouble(text, value) || !std::isfinite(value)) {
        error = std::string("--threshold needs a number, not \"") + text + "\"";
        return false;
    }
    rule.given = true;
    rule.value = value;
    return true;
}

constexpr int64_t mebibyte = int64_t(1) << 20;

} // namespace

OptionsResult parseConversionOptions(int argc, char** argv, ConversionOptions& options,
                                     std::string& error) {
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = nullptr;
        const size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = argv[i] + equals + 1;
            arg.resize(equals);
        }
        // The option's value: after '=' or the next argument.
        auto takeValue = [&]() -> const char* {
            if (!value && i + 1 < argc)
                value = argv[++i];
            if (!value)
                error = arg + " needs a value (see vxlconv --help)";
            return value;
        };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            return OptionsResult::help;
        } else if (arg == "--voxel-size") {
            ok = takeValue() && parseSize(arg, value, options.voxelSize, error);
        } else if (arg == "--resolution") {
            ok = takeValue() && parseCount(arg, value, 2, maxGridCells, options.resolution, error);
        } else if (arg == "--max-voxels") {
            ok = takeValue() && parseCount(arg, value, 1, maxVoxelCount, options.maxVoxels, error);
        } else if (arg == "--max-memory") {
            ok = takeValue() &&
                 parseCount(arg, value, 64, int64_t(1) << 30, options.memoryCap, error);
            options.memoryCap *= mebibyte;
        } else if (arg == "--threshold") {
            ok = takeValue() && parseThreshold(value, options.threshold, error);
        } else if (arg == "--colors" || arg == "--colours") {
            ok = takeValue() && parseColorMode(value, options.colors);
            if (value && !ok)
                error = "--colors needs height, labels, grey or map, not \"" + std::string(value) +
                        "\"";
        } else if (arg == "--mesh") {
            ok = takeValue() && parseMeshChoice(value, options.mesh);
            if (value && !ok)
                error = "--mesh needs greedy, faces or cubes, not \"" + std::string(value) + "\"";
            options.meshGiven = true;
        } else if (arg == "--hollow") {
            options.hollow = true;
            if (value) {
                error = "--hollow takes no value";
                ok = false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg + " (see vxlconv --help)";
            ok = false;
        } else {
            paths.push_back(argv[i]);
        }
        if (!ok)
            return OptionsResult::refused;
    }
    if (paths.size() != 2) {
        error = "needs an input and an output file: vxlconv INPUT OUTPUT (see vxlconv --help)";
        return OptionsResult::refused;
    }
    if (options.voxelSize > 0 && options.resolution > 0) {
        error = "give either --voxel-size or --resolution, not both";
        return OptionsResult::refused;
    }
    options.input = paths[0];
    options.output = paths[1];
    return OptionsResult::convert;
}
