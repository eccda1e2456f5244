// What a TIFF stack's first ImageDescription says of its pages: ImageJ's
// "key=value" lines (hyperstacks of channels, slices and frames) or an
// OME-TIFF's OME-XML. Text alone, so that it is read and tested without
// libtiff.
#pragma once

#include <cstdint>
#include <string>

// Which pages are the z slices read, and the spacing the text gives.
struct TiffStackPlan {
    const char* source = ""; // "ImageJ", "OME-XML", or "" when the text says nothing
    // The pages of the z slices of the first channel and time point:
    // firstPage, firstPage + pageStep, ... (`slices` of them); slices 0
    // when the text does not say, and every page is a slice.
    int64_t slices = 0;
    int64_t pageStep = 1;
    // The pages the text says the file holds (0 when it does not say).
    int64_t pages = 0;
    // Distance between sample centres along x, y, z; 0 where not given.
    double spacing[3] = {0, 0, 0};
    std::string unit; // as the text names it, empty when it does not
};

// Reads ImageJ's or OME-XML's description into `plan`. `samplesPerPixel`
// is the first page's (an OME RGB channel is one page of three samples).
// Text that is neither leaves the plan empty and succeeds; a description
// that is one of them but whose counts do not hold together (a zero, a
// product beyond 64 bits, a dimension order that is not one) is refused
// with a reason.
bool readTiffDescription(const std::string& text, int samplesPerPixel, TiffStackPlan& plan,
                         std::string& reason);
