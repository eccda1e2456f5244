// The three-float vector that positions, directions and axes are stored in.
#pragma once

struct Vec3 {
    float x, y, z;
};
