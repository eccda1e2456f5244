// The size of the last frame drawn into the window. The depth buffer holds
// that frame, so the depth pick reads it only while the window still has this
// size.
#pragma once

struct DrawnFrameSize {
    int width, height;
};

// 0 x 0 until the first frame.
extern DrawnFrameSize lastDrawnFrame;
