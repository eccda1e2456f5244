// Turns a volume that states its patient frame into the display frame, so
// that a patient is seen as someone facing them sees them: superior up (+y),
// anterior toward the eye (+z), the patient's left at +x (their right on the
// screen's left). The same scan stored in any axis order or flipped gives
// the same volume.
#pragma once

#include "samples/sample_volume.h"

#include <string>

// Where an index axis points once the frame is turned to the display one.
void displayDirection(PatientFrame frame, const double in[3], double out[3]);

// Each display axis d takes the index axis axisOf[d], forward or backward
// (sign[d] = +1 or -1): the signed permutation nearest to `directions`
// (rows: index axes, in display coordinates), the one whose axes agree
// with the directions most. Returns the largest angle in degrees between
// an index axis and the display axis it is given.
double nearestAxes(const double directions[3][3], int axisOf[3], int sign[3]);

// Re-indexes `volume` in place (dims, strides, spacings, origin; the samples
// stay where they are, a flipped axis walked backwards) so that index axis d
// runs along display axis d, and sets its frame to none. An oblique volume
// (axes off the patient's) is turned to the nearest axes, not resampled, so
// that every sample keeps its value; `note` then says so ("is oblique ...",
// to follow the input's name), and is empty otherwise. A volume with no frame is left as it is.
void orientToDisplay(SampleVolume& volume, std::string& note);
