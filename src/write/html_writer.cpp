#include "write/html_writer.h"

#include "camera/model_framing.h"
#include "platform/output_file.h"
#include "platform/progress_line.h"
#include "write/byte_sink.h"
#include "write/gltf_writer.h"
#include "write/html_text.h"
#include "write/output_names.h"
#include "write/page_bytes.h"
#include "write/web_assets.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <zlib.h>

namespace {

// A float as the shortest decimal of its exact value in double, which a
// script reads back to the same number.
std::string exactNumber(float value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, double(value)).ptr);
}

// The zlib stream of `data`, which the page inflates with the browser's own
// DecompressionStream: a mesh's arrays shrink to a fifth or less, and what
// is left is nearly even in its bytes, which the page's text code takes at
// its cost of at most 4 in 256.
bool deflateBytes(const uint8_t* data, size_t size, std::vector<uint8_t>& out, std::string& error) {
    z_stream z = {};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) {
        error = "cannot compress the page's model";
        return false;
    }
    constexpr size_t outputStep = size_t(1) << 20;
    size_t given = 0, used = 0;
    int status = Z_OK;
    out.clear();
    while (status == Z_OK || status == Z_BUF_ERROR) {
        if (z.avail_in == 0 && given < size) {
            // zlib counts its input in 32 bits.
            const size_t piece = std::min(size - given, size_t(1) << 30);
            z.next_in = const_cast<Bytef*>(data + given);
            z.avail_in = uInt(piece);
            given += piece;
        }
        out.resize(used + outputStep);
        z.next_out = out.data() + used;
        z.avail_out = uInt(outputStep);
        status = deflate(&z, given == size ? Z_FINISH : Z_NO_FLUSH);
        used += outputStep - z.avail_out;
    }
    deflateEnd(&z);
    out.resize(used);
    if (status != Z_STREAM_END) {
        error = "cannot compress the page's model";
        return false;
    }
    return true;
}

// What the page says it shows: the input's file name (never its folders)
// and the number of voxels.
std::string caption(const VoxelGrid& grid) {
    const int64_t count = int64_t(grid.voxels.colors.size() / 3);
    const std::string name = fileNameOf(grid.source.empty() ? "voxels" : grid.source);
    return escapeHtml(name) + " &mdash; " + groupedNumber(count) +
           (count == 1 ? " voxel" : " voxels");
}

} // namespace

std::string fillPlaces(const std::string& page,
                       const std::vector<std::pair<std::string, std::string>>& values) {
    std::string out;
    size_t at = 0;
    while (at < page.size()) {
        const size_t open = page.find("{{", at);
        const size_t close = open == std::string::npos ? open : page.find("}}", open + 2);
        if (close == std::string::npos)
            break;
        const std::string name = page.substr(open + 2, close - open - 2);
        out.append(page, at, open - at);
        at = open + 2;
        bool named = false;
        for (const auto& value : values)
            if (value.first == name) {
                out += value.second;
                at = close + 2;
                named = true;
                break;
            }
        if (!named)
            out += "{{";
    }
    out.append(page, at, std::string::npos);
    return out;
}

bool writeHtml(const VoxelGrid& grid, const WriteOptions& options, std::string& error) {
    WriteOptions greedy = options;
    greedy.mesh = MeshChoice::greedy;
    ByteSink glb = openMemorySink();
    if (!putGlb(glb, grid, greedy, error))
        return failOutputFile(error, &error);
    std::vector<uint8_t> model;
    progressPhase("compressing the model");
    if (!deflateBytes(reinterpret_cast<const uint8_t*>(glb.buffer.data()), glb.buffer.size(), model,
                      error))
        return failOutputFile(error, &error);
    const size_t glbSize = glb.buffer.size();
    std::vector<char>().swap(glb.buffer);
    const PageByteCode code = choosePageByteCode(model.data(), model.size());

    const VoxelList& voxels = grid.voxels;
    const ModelFraming framing =
        frameVoxels(voxels.positions.data(), int64_t(voxels.colors.size() / 3), voxels.voxelSize);
    const std::string text = caption(grid);
    const std::vector<std::pair<std::string, std::string>> values = {
        {"TITLE", text},
        {"LABEL", text},
        {"LENGTH", std::to_string(model.size())},
        {"GLB_LENGTH", std::to_string(glbSize)},
        {"BYTES", byteTableHex(code)},
        {"ESCAPES", rareBytesHex(code)},
        {"FRAMING", exactNumber(framing.center.x) + " " + exactNumber(framing.center.y) + " " +
                        exactNumber(framing.center.z) + " " + exactNumber(framing.extent)},
        {"CAMERA", cameraScript},
        {"VIEWER", viewerScript}};
    // The template is cut at the model's place before anything is put in,
    // so that no text put in can be taken for that place.
    const std::string templateText = pageTemplate, modelPlace = "{{MODEL}}";
    const size_t split = templateText.find(modelPlace);
    const std::string head = fillPlaces(templateText.substr(0, split), values);
    const std::string tail = fillPlaces(templateText.substr(split + modelPlace.size()), values);
    progressPhase(std::string("writing ") + options.path);
    ByteSink sink = openSink(outputFileStream());
    putText(sink, head);
    putPageBytes(sink, code, model.data(), model.size());
    putText(sink, tail);
    if (!flushSink(sink))
        return failCompanionFile(0, strerror(sink.failure), &error);
    return finishOutputFile(&error);
}

extern const OutputFormat htmlOutput = {
    "web page",
    {".html"},
    writeHtml,
    nullptr,
    false,
    "one web page that shows the voxels in any browser with WebGL, offline: the greedy .glb and "
    "a small viewer, opening on voxscope's first frame; turn, pan and zoom as in voxscope, space "
    "frames again"};
