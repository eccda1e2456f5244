#include "samples/volume_orientation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void displayDirection(PatientFrame frame, const double in[3], double out[3]) {
    // To RAS first: LPS and LAS count x (and LPS y) the other way.
    double ras[3] = {in[0], in[1], in[2]};
    if (frame == PatientFrame::lps || frame == PatientFrame::las)
        ras[0] = -ras[0];
    if (frame == PatientFrame::lps)
        ras[1] = -ras[1];
    // Left is +x, superior +y, anterior +z: a turn of RAS, never a mirror.
    out[0] = -ras[0];
    out[1] = ras[2];
    out[2] = ras[1];
}

double nearestAxes(const double directions[3][3], int axisOf[3], int sign[3]) {
    static const int perms[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 0, 2},
                                    {1, 2, 0}, {2, 0, 1}, {2, 1, 0}};
    double best = -1;
    for (const auto& perm : perms) {
        double agreement = 0;
        for (int d = 0; d < 3; ++d) {
            const double* v = directions[perm[d]];
            const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            agreement += length > 0 ? std::fabs(v[d]) / length : 0;
        }
        if (agreement > best) {
            best = agreement;
            std::copy(perm, perm + 3, axisOf);
        }
    }
    double largest = 0;
    for (int d = 0; d < 3; ++d) {
        const double* v = directions[axisOf[d]];
        sign[d] = v[d] < 0 ? -1 : 1;
        // From the components off the axis rather than acos of the one on
        // it, which loses the small angles of a header's rounding.
        const double off = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2] - v[d] * v[d]);
        largest = std::max(largest, std::atan2(off, std::fabs(v[d])) * 180 / M_PI);
    }
    return largest;
}

void orientToDisplay(SampleVolume& volume, std::string& note) {
    note.clear();
    if (volume.frame == PatientFrame::none)
        return;
    double directions[3][3], origin[3];
    for (int a = 0; a < 3; ++a)
        displayDirection(volume.frame, volume.directions[a], directions[a]);
    displayDirection(volume.frame, volume.origin, origin);
    int axisOf[3], sign[3];
    const double angle = nearestAxes(directions, axisOf, sign);
    // Below this the turn is the rounding of a header's 32-bit floats: a
    // qform's first component, a square root of the others, is off by 0.02.
    if (angle > 0.1) {
        char text[160];
        snprintf(text, sizeof text,
                 "is oblique (its axes lie up to %.1f degrees off the patient's): it is turned to "
                 "the nearest axes, not resampled",
                 angle);
        note = text;
    }
    const int64_t dims[3] = {volume.dims[0], volume.dims[1], volume.dims[2]};
    const int64_t strides[3] = {volume.strides[0], volume.strides[1], volume.strides[2]};
    const double spacing[3] = {volume.spacing[0], volume.spacing[1], volume.spacing[2]};
    int64_t shift = 0; // samples from the old first sample to the new one
    double first[3] = {origin[0], origin[1], origin[2]};
    for (int d = 0; d < 3; ++d) {
        const int a = axisOf[d];
        volume.dims[d] = dims[a];
        volume.spacing[d] = spacing[a];
        volume.strides[d] = sign[d] * strides[a];
        if (sign[d] < 0) {
            // A flipped axis starts at its last sample, the one nearest -d,
            // reached along the display axis the index axis is turned to.
            shift += (dims[a] - 1) * strides[a];
            first[d] -= double(dims[a] - 1) * spacing[a];
        }
    }
    // Turned about the file's sample (0, 0, 0), whose place the header states.
    for (int d = 0; d < 3; ++d)
        volume.origin[d] = first[d];
    const int64_t bytes = shift * int64_t(sampleTypeSize(volume.type));
    if (volume.borrowed)
        volume.borrowed += bytes;
    else
        volume.offset = size_t(int64_t(volume.offset) + bytes);
    volume.frame = PatientFrame::none;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b)
            volume.directions[a][b] = a == b ? 1 : 0;
}
