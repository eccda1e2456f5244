// Drawing with no display and no GPU: a desktop GL context from EGL on Mesa's
// surfaceless platform, drawing into a framebuffer object of the picture's
// size (8-bit RGBA colour; 32-bit depth, which is what the viewer's window
// gets from Mesa for its depth buffer), and the read-back of what it drew.
#pragma once

#include <cstdint>
#include <string>

// Makes the context current with a w x h framebuffer bound for drawing. On
// failure returns false with one line in *error (no trailing line break)
// saying what is missing; nothing is left current then.
bool openOffscreenContext(int w, int h, std::string* error);

// Waits for the drawing to finish and copies the framebuffer into `pixels`,
// rows from the top down (as pictures are stored), `channels` bytes per pixel:
// 3 (red, green, blue) or 4 (with alpha). `pixels` holds w x h x channels.
void readOffscreenPixels(int channels, uint8_t* pixels);
