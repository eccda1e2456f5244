// The viewer's own camera code driven by a script of window events, printing
// the camera, the spin and the pointer after each: what the web page's
// camera must repeat.
// The window and the clock are the unit tests' fakes, so nothing is drawn
// and time is what the script says.
//
//   camera_trace < SCRIPT
//
// Script lines (times T in seconds, pixels X Y from the top left):
//   size W H                  the window's size
//   frame CX CY CZ EXTENT     the model's framing, then the framed view
//   button MASK X Y T         a button pressed or let go: MASK is what is held
//   motion MASK X Y T         the pointer moved
//   wheel STEPS MASK X Y T    wheel steps, positive in
//   key CHAR T                a key ("space" for the space bar)
//   spin T                    the idle callback runs
#include "camera/camera_state.h"
#include "camera/idle_animation.h"
#include "camera/input_mapping.h"
#include "camera/pan_zoom.h"
#include "camera/trackball_state.h"
#include "fakes.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

void setTime(double seconds) {
    fakeClock.counter = uint64_t(std::llround(seconds * double(fakeClock.frequency)));
}

void printState() {
    const CameraState& c = camera;
    printf("%.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %d %.9g %.9g %.9g %.9g %.9g %.9g %d %.17g\n",
           c.eye.x, c.eye.y, c.eye.z, c.angle, c.axis.x, c.axis.y, c.axis.z, c.distance,
           int(trackball.spinning), trackball.angularSpeed, trackball.spinAxis.x,
           trackball.spinAxis.y, trackball.spinAxis.z, pointer.lastX, pointer.lastY,
           int(pointer.lastButtons),
           double(trackball.lastRotationTick) / double(fakeClock.frequency));
}

} // namespace

int main() {
    resetAllState();
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        int mask = 0, x = 0, y = 0, steps = 0;
        double t = 0;
        if (kind == "size") {
            words >> fakeWindow.width >> fakeWindow.height;
        } else if (kind == "frame") {
            words >> camera.center.x >> camera.center.y >> camera.center.z >> camera.extent;
            resetCamera();
        } else if (kind == "button" || kind == "motion") {
            words >> mask >> x >> y >> t;
            setTime(t);
            pointer.heldButtons = ButtonMask(mask);
            if (kind == "button")
                trackball.spinning = 0;
            motionCallback(x, y);
        } else if (kind == "wheel") {
            words >> steps >> mask >> x >> y >> t;
            setTime(t);
            pointer.heldButtons = ButtonMask(mask);
            // As the viewer's mouse callback takes each wheel button event.
            for (int i = 0; i < std::abs(steps); ++i) {
                moveCamera(0.0f, 0.0f, steps > 0 ? zoomStep : -zoomStep);
                trackball.spinning = 0;
                motionCallback(x, y);
            }
        } else if (kind == "key") {
            std::string key;
            words >> key >> t;
            setTime(t);
            keyboardCallback(key == "space" ? ' ' : key[0], 0, 0);
        } else if (kind == "spin") {
            words >> t;
            setTime(t);
            idleCallback();
        } else {
            fprintf(stderr, "camera_trace: unknown line: %s\n", line.c_str());
            return 1;
        }
        printState();
    }
    return 0;
}
