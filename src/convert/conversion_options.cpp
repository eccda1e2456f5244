#include "convert/conversion_options.h"

#include "container/header_text.h"
#include "convert/input_table.h"
#include "convert/output_table.h"
#include "model/voxel_model.h"
#include "voxels/voxel_grid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// `text` wrapped at 78 columns, its lines after the first `indent` spaces in.
std::string wrapped(const std::string& text, size_t indent, size_t firstColumn) {
    std::string out;
    size_t column = firstColumn, start = 0;
    while (start < text.size()) {
        size_t end = text.find(' ', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string word = text.substr(start, end - start);
        if (column > indent && column + 1 + word.size() > 78) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        } else if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
        start = end + 1;
    }
    return out + "\n";
}

// One entry of a list: "  TITLE" padded to `indent`, then the text.
std::string entry(const std::string& title, const std::string& text, size_t indent) {
    std::string line = "  " + title;
    if (line.size() + 1 >= indent)
        return line + "\n" + std::string(indent, ' ') + wrapped(text, indent, indent);
    return line + std::string(indent - line.size(), ' ') + wrapped(text, indent, indent);
}

} // namespace

std::string conversionOptionsHelp(bool withMesh) {
    const size_t optionColumn = 20;
    const std::string samples = sampleFormatTitles(", ");
    std::string text;
    text += entry("--voxel-size S",
                  "meshes and point clouds: edge of a voxel, in the input's units; samples: "
                  "below their largest spacing, finer cubes by interpolation; every other "
                  "input, and samples above it: a coarser grid of cells of edge S (at least "
                  "the input's voxel size)",
                  optionColumn);
    text += entry("--resolution N",
                  "meshes and point clouds: N voxels along the longest side of the model's box "
                  "(default 128; 2 to 2097152); every other input: a coarser grid with N cells "
                  "along that side, or for samples, finer cubes by interpolation when N is more "
                  "than their cubes of the largest spacing span",
                  optionColumn);
    text += entry("--hollow",
                  "leave out every voxel whose six face neighbours are all there: seen from "
                  "outside the picture is the same, but a cut through the model (the near plane "
                  "inside it) shows an empty shell instead of a solid interior",
                  optionColumn);
    text += entry("--shade",
                  "darken each voxel by the light its surface takes (its normal lit from above, "
                  "in front and the left, less where the surface is enclosed), so that the form "
                  "reads in the unlit viewer; on by default where the colours carry no shape: "
                  "one colour for every voxel (a mask, a single-material mesh) or colours by "
                  "height, except for voxel files (.vxl, .vox)",
                  optionColumn);
    text += entry("--no-shade", "keep the colours as they are, even where --shade is the default",
                  optionColumn);
    text +=
        entry("--threshold T",
              samples + ": a voxel where the value (as the file scales it) is at least T; needed "
                        "for floating-point arrays and for volumes; integer arrays with it are "
                        "grey by value, not labels",
              optionColumn);
    text +=
        entry("--colors C",
              samples + ": height, labels (the palette, by integer value), grey or map (viridis), "
                        "the last two from the lowest value that passes to the highest",
              optionColumn);
    if (withMesh)
        text +=
            entry("--mesh M",
                  "mesh outputs (" + meshOutputExtensionList() +
                      "): greedy (default: faces between voxels left out, flat sides merged into "
                      "rectangles, colours in a texture), faces (every exposed face, shared "
                      "vertices: closed wherever the voxel set is) or cubes (every voxel a whole "
                      "cube, as voxscope draws it)",
                  optionColumn);
    text += entry("--background B",
                  samples + " without --threshold: samples of value B are empty instead of 0 "
                            "(a segmentation whose background label is not 0; a note names "
                            "such a label when it fills most of the volume's border)",
                  optionColumn);
    text += entry("--series S",
                  seriesFormatTitles() +
                      " inputs of several series: read the one of Series Instance UID S, or the "
                      "S-th that the note lists (default: the one with the most images)",
                  optionColumn);
    text += entry("--grid G",
                  formatTitlesWith(&InputFormat::takesGrid) +
                      " inputs of several grids: read the grid named G, or the G-th in the file "
                      "(default: the first float grid, else the first; a note names the others)",
                  optionColumn);
    text += entry("--dataset PATH",
                  formatTitlesWith(&InputFormat::takesDataset) +
                      " inputs of several volumes: read the array or dataset at PATH inside "
                      "the store or file (/exchange/data; default: the one the note names)",
                  optionColumn);
    text += entry("--level N",
                  formatTitlesWith(&InputFormat::takesLevel) +
                      " multiscale pyramids (OME-Zarr): read level N, 0 the finest (default: "
                      "the finest of no more samples than --max-voxels)",
                  optionColumn);
    text += entry("--max-voxels N",
                  "refuse to write more than N voxels (default 10000000; at most 59652323, what "
                  "voxscope can draw)",
                  optionColumn);
    text += entry("--max-memory MB",
                  "cap on the memory used (default: 1024 MB, plus 64 times the input's size, "
                  "plus 64 bytes per voxel allowed, at most the machine's memory and its control "
                  "group's room); guards against damaged files",
                  optionColumn);
    return text;
}

std::string vxlconvHelpText() {
    const size_t formatColumn = 22;
    std::string help = "Usage: vxlconv INPUT OUTPUT [OPTIONS]\n"
                       "       vxlconv --view INPUT [OPTIONS] [-geometry WxH+X+Y] [-display D]\n" +
                       wrapped("Turns a mesh, a point cloud, or a file of voxels or of samples "
                               "into a voxel file for voxscope, or the voxels into a mesh, a "
                               ".vox file or a web page for others.",
                               0, 0) +
                       "\n";
    // Rows read alike share their names (.nii for both NIfTI versions):
    // each is listed once.
    std::string names;
    std::vector<std::string> listed;
    for (const InputFormat* format : inputFormats())
        for (const char* extension : format->extensions)
            if (extension && std::find(listed.begin(), listed.end(), extension) == listed.end()) {
                listed.push_back(extension);
                names += std::string(names.empty() ? "" : ", ") + extension;
            }
    help += wrapped("INPUT is read by its contents; when they do not say, a name ending in " +
                        names + " (each also with .gz) is read as that format:",
                    0, 0);
    std::vector<const char*> described;
    for (const InputFormat* format : inputFormats()) {
        if (std::find(described.begin(), described.end(), format->helpText) != described.end())
            continue;
        described.push_back(format->helpText);
        help += entry(format->helpTitle, format->helpText, formatColumn);
    }
    help += entry("gzip", "any of these compressed: read by what it holds.", formatColumn);
    help += entry("anything else",
                  "through the Open Asset Import Library: OBJ, PLY, STL, glTF, COLLADA, 3DS, FBX, "
                  "OFF and more. Surfaces become the voxels they touch (a closed surface stays "
                  "closed), lines the voxels they pass, and each point of a point cloud fills "
                  "the voxel it falls in.",
                  formatColumn);
    const std::string samples = sampleFormatTitles(", ");
    help += "\n" +
            wrapped("Samples (" + samples +
                        ") are voxels where they are nonzero, or with --threshold T where "
                        "their value is at least T. Unequal "
                        "spacings become cubes of the largest, each a voxel when any sample in it "
                        "passes, coloured by their mean. A --voxel-size or --resolution finer "
                        "than those cubes resamples the samples: each smaller cube takes the "
                        "linear interpolation of the samples around its centre, then the "
                        "threshold.",
                    0, 0);
    help += "\n" +
            wrapped("Colours: a voxel takes the mean of the colours that meet it: vertex colours, "
                    "else the material's diffuse colour. Textures are not sampled: a textured "
                    "surface takes its material's colour (a note on stderr says so). A source "
                    "with no colours at all is coloured by height (blue low, white high).",
                    0, 0);
    std::string written;
    for (const OutputFormat* format : outputFormats())
        for (const char* extension : format->extensions)
            if (extension)
                written += std::string(written.empty() ? "" : ", ") + extension + " (" +
                           format->name + ")";
    help += "\n" +
            wrapped("OUTPUT is written as its extension says: " + written +
                        "; a name without an extension is a " + outputFormats().front()->name + ":",
                    0, 0);
    for (const OutputFormat* format : outputFormats()) {
        std::string title;
        for (const char* extension : format->extensions)
            if (extension)
                title += std::string(title.empty() ? "" : ", ") + extension;
        help += entry(title, format->helpText, formatColumn);
    }
    help += "\nOptions:\n";
    help += conversionOptionsHelp(true);
    help += entry("--view",
                  "convert INPUT into a private temporary voxel file, show it in voxscope and "
                  "remove the file when the viewer ends (its exit status is vxlconv's); give no "
                  "OUTPUT. A signal that ends vxlconv (SIGINT, SIGTERM, SIGHUP) ends the viewer "
                  "too. GLUT's options -geometry WxH+X+Y, -display D, -iconic, -direct, "
                  "-indirect, -gldebug and -sync go to the viewer",
                  20);
    help += entry("--help", "show this text", 20);
    help += "\n" +
            wrapped("Voxel centres lie on a grid through the model's lowest corner, one voxel "
                    "size apart. A coarser grid starts at the lowest corner of the input's "
                    "voxels; each cell holds the voxels whose centres fall in it, coloured by "
                    "their rounded mean. Neighbours for --hollow are found on the input's "
                    "lattice; voxels off it are kept as they are. Kept voxels keep their "
                    "positions to the bit. The output (and each file it brings along) is written "
                    "beside OUTPUT and renamed into place only when the conversion succeeds: a "
                    "failed or interrupted run leaves an existing OUTPUT as it was, and only a "
                    "regular file is ever replaced. On a terminal, a line on stderr shows the "
                    "progress of conversions that take more than a second. On any error vxlconv "
                    "prints one line on stderr and exits with status 1.",
                    0, 0);
    help += "\nExamples: vxlconv bunny.ply bunny.vxl --resolution 200 && voxscope bunny.vxl\n"
            "          vxlconv scan.vxl light.vxl --hollow --resolution 400\n"
            "          vxlconv SCAN_FOLDER bone.vxl --threshold 300 --hollow\n"
            "          vxlconv castle.vox castle.glb\n"
            "          vxlconv scan.vxl print.stl --mesh faces\n"
            "          vxlconv --view head.nii.gz --threshold 300 -geometry 1024x768\n";
    return help;
}

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

OptionTaken takeConversionOption(int argc, char** argv, int& i, const char* program,
                                 ConversionOptions& options, std::string& error) {
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
            error = arg + " needs a value (see " + program + " --help)";
        return value;
    };
    bool ok = true;
    if (arg == "--voxel-size") {
        ok = takeValue() && parseSize(arg, value, options.voxelSize, error);
    } else if (arg == "--resolution") {
        ok = takeValue() && parseCount(arg, value, 2, maxGridCells, options.resolution, error);
    } else if (arg == "--max-voxels") {
        ok = takeValue() && parseCount(arg, value, 1, maxVoxelCount, options.maxVoxels, error);
    } else if (arg == "--max-memory") {
        ok = takeValue() && parseCount(arg, value, 64, int64_t(1) << 30, options.memoryCap, error);
        options.memoryCap *= mebibyte;
        options.memoryCapGiven = true;
    } else if (arg == "--threshold") {
        ok = takeValue() && parseThreshold(value, options.threshold, error);
    } else if (arg == "--background") {
        ok = takeValue() && wordToDouble(value, options.threshold.background) &&
             std::isfinite(options.threshold.background);
        if (value && !ok)
            error = "--background needs a number, not \"" + std::string(value) + "\"";
        options.backgroundGiven = true;
    } else if (arg == "--series") {
        ok = takeValue() && *value != '\0';
        if (value && !ok)
            error = "--series needs a Series Instance UID or a number";
        if (ok)
            options.series = value;
    } else if (arg == "--grid") {
        ok = takeValue() && *value != '\0';
        if (value && !ok)
            error = "--grid needs a grid's name or number";
        if (ok)
            options.grid = value;
    } else if (arg == "--dataset") {
        ok = takeValue() && *value != '\0';
        if (value && !ok)
            error = "--dataset needs a path inside the store or file";
        if (ok)
            options.dataset = value;
    } else if (arg == "--level") {
        ok = takeValue() && parseCount(arg, value, 0, 63, options.level, error);
    } else if (arg == "--colors" || arg == "--colours") {
        ok = takeValue() && parseColorMode(value, options.colors);
        if (value && !ok)
            error =
                "--colors needs height, labels, grey or map, not \"" + std::string(value) + "\"";
    } else if (arg == "--mesh") {
        ok = takeValue() && parseMeshChoice(value, options.mesh);
        if (value && !ok)
            error = "--mesh needs greedy, faces or cubes, not \"" + std::string(value) + "\"";
        options.meshGiven = true;
    } else if (arg == "--hollow" || arg == "--shade" || arg == "--no-shade") {
        if (arg == "--hollow")
            options.hollow = true;
        else
            options.shade = arg == "--shade" ? ShadeChoice::on : ShadeChoice::off;
        if (value) {
            error = arg + " takes no value";
            ok = false;
        }
    } else {
        return OptionTaken::no;
    }
    options.given = true;
    return ok ? OptionTaken::yes : OptionTaken::refused;
}

bool checkConversionOptions(const ConversionOptions& options, std::string& error) {
    if (options.voxelSize > 0 && options.resolution > 0) {
        error = "give either --voxel-size or --resolution, not both";
        return false;
    }
    if (options.threshold.given && options.backgroundGiven) {
        error = "give either --threshold or --background, not both";
        return false;
    }
    return true;
}

namespace {

// GLUT's own options, which --view passes on to the viewer: those that take
// a value, then those that do not.
const char* const viewerValueOptions[] = {"-display", "-geometry"};
const char* const viewerFlagOptions[] = {"-iconic", "-direct", "-indirect", "-gldebug", "-sync"};

// Takes argv[i] (and its value) into options.viewerOptions when it is one
// of GLUT's options.
OptionTaken takeViewerOption(int argc, char** argv, int& i, ConversionOptions& options,
                             std::string& error) {
    const std::string arg = argv[i];
    for (const char* name : viewerFlagOptions)
        if (arg == name) {
            options.viewerOptions.push_back(arg);
            return OptionTaken::yes;
        }
    for (const char* name : viewerValueOptions)
        if (arg == name) {
            if (i + 1 >= argc) {
                error = arg + " needs a value (see vxlconv --help)";
                return OptionTaken::refused;
            }
            options.viewerOptions.push_back(arg);
            options.viewerOptions.push_back(argv[++i]);
            return OptionTaken::yes;
        }
    return OptionTaken::no;
}

} // namespace

OptionsResult parseConversionOptions(int argc, char** argv, ConversionOptions& options,
                                     std::string& error) {
    std::vector<const char*> paths;
    std::string firstViewerOption;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
            return OptionsResult::help;
        if (arg == "--view") {
            options.view = true;
            continue;
        }
        OptionTaken taken = takeConversionOption(argc, argv, i, "vxlconv", options, error);
        if (taken == OptionTaken::no) {
            taken = takeViewerOption(argc, argv, i, options, error);
            if (taken == OptionTaken::yes && firstViewerOption.empty())
                firstViewerOption = arg;
        }
        if (taken == OptionTaken::refused)
            return OptionsResult::refused;
        if (taken == OptionTaken::yes)
            continue;
        if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option " + arg.substr(0, arg.find('=')) + " (see vxlconv --help)";
            return OptionsResult::refused;
        }
        paths.push_back(argv[i]);
    }
    if (!options.view && !firstViewerOption.empty()) {
        error = firstViewerOption + " is an option of the viewer: give it with --view (see "
                                    "vxlconv --help)";
        return OptionsResult::refused;
    }
    if (options.view && paths.size() != 1) {
        error = paths.empty() ? "needs an input file: vxlconv --view INPUT (see vxlconv --help)"
                              : std::string("--view writes no output file: leave out ") + paths[1] +
                                    " (see vxlconv --help)";
        return OptionsResult::refused;
    }
    if (!options.view && paths.size() != 2) {
        error = "needs an input and an output file: vxlconv INPUT OUTPUT (see vxlconv --help)";
        return OptionsResult::refused;
    }
    if (!checkConversionOptions(options, error))
        return OptionsResult::refused;
    options.input = paths[0];
    if (!options.view)
        options.output = paths[1];
    return OptionsResult::convert;
}
