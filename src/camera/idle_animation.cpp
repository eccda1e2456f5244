#include "camera/idle_animation.h"

#include "camera/pivot_turn.h"
#include "camera/trackball_state.h"
#include "platform/perf_clock.h"
#include "platform/sleep.h"
#include "window/glut_window.h"

void idleCallback() {
    if (!trackball.spinning) {
        // GLUT calls the idle callback in a tight loop; resting here keeps a
        // still view from using a whole core while input waits at most 10 ms.
        sleepMilliseconds(restSleepMilliseconds);
        return;
    }
    // Each step turns by the time since the previous rotation update, so the
    // spin rate does not depend on the frame rate.
    uint64_t now = 0;
    double dt = elapsedSeconds(trackball.lastRotationTick, &now);
    turnAboutPivot(quaternionFromAngleAxis(dt * trackball.angularSpeed, trackball.spinAxis));
    trackball.lastRotationTick = now;
    postRedisplay();
}
