// Reading back what the last frame left in the GL context, for the depth pick.
#pragma once

// Takes, right after a w x h frame is drawn, the depth at its centre pixel
// (w / 2, h / 2) and the frame's transforms, which the two functions below
// hand out: they read nothing from GL themselves.
// Reading them later, from a mouse event, is not safe: once the window has
// been resized the software rasteriser can read freed depth storage there
// (the viewer crashed after a resize to a few pixels and a wheel step).
void captureFrameReadback(int w, int h);

// Depth of window pixel (x, y), GL window coordinates (origin bottom left), in
// the last frame drawn, as captured: the depth taken when (x, y) is that
// frame's centre, else the cleared depth 1.0, which the pick takes as
// background.
float capturedDepthAt(int x, int y);

// The projection and model-view matrices and the viewport of that frame, as
// captured.
void capturedViewTransforms(double projection[16], double modelview[16], int viewport[4]);
