// Whether a flung turn is spinning, and the speed and axis it spins with: what
// the trackball leaves for the idle callback, and what re-framing stops.
#pragma once

#include <cstdint>

#include "math/vec3.h"

struct TrackballState {
    uint8_t spinning;          // a released turn keeps going in the idle callback
    float angularSpeed;        // smoothed drag speed, radians per second
    Vec3 spinAxis;             // axis of the latest step, view coordinates
    uint64_t lastRotationTick; // counter reading of the last rotation update
};

extern TrackballState trackball;
