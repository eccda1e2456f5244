// Reading back what the last frame left in the GL context, for the depth pick.
#pragma once

// Depth of window pixel (x, y), GL window coordinates (origin bottom left).
float readDepthPixel(int x, int y);

// The current projection and model-view matrices and the viewport.
void readViewTransforms(double projection[16], double modelview[16], int viewport[4]);
