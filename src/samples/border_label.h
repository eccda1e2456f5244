// The label around a label volume: segmentations whose background is not
// 0 fill their box's border with it, and every sample of it becomes a voxel
// that hides the rest.
#pragma once

#include "samples/sample_volume.h"
#include "samples/volume_threshold.h"

// Of a volume of integer samples (labels): the value held by more than half
// of the samples on its six faces, when samples of that value pass `rule`
// (they would be voxels) and leaving them out would leave something to see
// (another value passes); false when no value is, when it is empty
// already, or when it is all there is.
bool borderLabel(const SampleVolume& volume, const ThresholdRule& rule, double& label);
