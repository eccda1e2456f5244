// The viewer's camera, step for step as voxscope does it: the framed view,
// the trackball with its spin, pan and zoom. Every value the viewer stores
// as a float is rounded to one here (Math.fround) at the same place, and
// every sum of products is taken in double as there, so a drag turns the
// model as the viewer would. No page or GL code: node runs it on its own.
"use strict";

var voxelCamera = (function () {
    var f = Math.fround;
    var FLT_MAX = 3.4028234663852886e38;
    var largestLimit = FLT_MAX / 4;
    var fallbackExtent = 1;
    var minDistanceFactor = 1e-4, maxDistanceFactor = 1e4, maxEyeOffsetFactor = 1e5;
    var invSqrt2 = f(0.70710677);
    var ballRadius = f(0.8);
    var ballRadiusSquared = f(ballRadius * ballRadius);
    var sheetStart = f(ballRadiusSquared / 2);
    var extrapolation = f(1.5);
    var minSpinSpeed = f(0.05);
    var speedWindowSeconds = f(0.2);
    var zoomStep = f(0.05);
    var zoomRate = 2.25;
    var leftButton = 4, middleButton = 2, rightButton = 1;

    var camera = { center: [0, 0, 0], extent: 0, eye: [0, 0, 0], angle: 0, axis: [0, 0, 1], distance: 0 };
    var trackball = { spinning: false, angularSpeed: 0, spinAxis: [0, 0, 0], lastTick: 0 };
    var pointer = { lastButtons: 0, lastX: 0, lastY: 0 };

    // fmin and fmax of C: a NaN loses to a number.
    function fmin(a, b) {
        return a !== a ? b : b !== b ? a : Math.min(a, b);
    }
    function fmax(a, b) {
        return a !== a ? b : b !== b ? a : Math.max(a, b);
    }

    function length3(x, y, z) {
        return Math.sqrt(x * x + y * y + z * z);
    }

    // Quaternions are [w, x, y, z] of floats.
    function fromAngleAxis(angle, axis) {
        var half = angle * 0.5, s = Math.sin(half);
        var n = length3(axis[0], axis[1], axis[2]);
        return [f(Math.cos(half)), f(axis[0] * s / n), f(axis[1] * s / n), f(axis[2] * s / n)];
    }

    function multiply(a, b) {
        return [f(a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3]),
                f(a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2]),
                f(a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1]),
                f(a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0])];
    }

    function normalize(q) {
        var n = Math.sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        if (n === 0) return [1, 0, 0, 0];
        return [f(q[0] / n), f(q[1] / n), f(q[2] / n), f(q[3] / n)];
    }

    function normalizeVector(v) {
        var n = length3(v[0], v[1], v[2]);
        if (n === 0) return [0, 0, 1];
        return [f(v[0] / n), f(v[1] / n), f(v[2] / n)];
    }

    function turn(q, v) {
        var n = length3(v[0], v[1], v[2]);
        if (n === 0) return v;
        var r = normalize(multiply(q, [0, v[0], v[1], v[2]]));
        r = normalize(multiply(r, [q[0], -q[1], -q[2], -q[3]]));
        var u = normalizeVector([r[1], r[2], r[3]]);
        return [f(n * u[0]), f(n * u[1]), f(n * u[2])];
    }

    function inverseTurn(q, v) {
        return turn([-q[0], q[1], q[2], q[3]], v);
    }

    function setAngleAxis(q) {
        var w = q[0] > 1 ? 1 : q[0] < -1 ? -1 : q[0];
        camera.angle = f(2 * Math.acos(w));
        camera.axis = camera.angle === 0 ? [0, 0, 1] : normalizeVector([q[1], q[2], q[3]]);
    }

    function distanceRange() {
        var extent = camera.extent > 0 ? camera.extent : fallbackExtent;
        return [Math.min(extent * minDistanceFactor, largestLimit),
                Math.min(extent * maxDistanceFactor, largestLimit)];
    }

    function clampDistance(distance) {
        var range = distanceRange();
        if (distance !== distance)
            return f(Math.min(2 * (camera.extent > 0 ? camera.extent : fallbackExtent), range[1]));
        if (distance < range[0]) return f(range[0]);
        if (distance > range[1]) return f(range[1]);
        return distance;
    }

    function clampCoordinate(value, center, limit) {
        if (value !== value) return center;
        var lo = Math.max(center - limit, -FLT_MAX), hi = Math.min(center + limit, FLT_MAX);
        if (value < lo) return f(lo);
        if (value > hi) return f(hi);
        return value;
    }

    function clampEye(eye) {
        var extent = camera.extent > 0 ? camera.extent : fallbackExtent;
        var limit = Math.min(extent * maxEyeOffsetFactor, largestLimit);
        return [clampCoordinate(eye[0], camera.center[0], limit),
                clampCoordinate(eye[1], camera.center[1], limit),
                clampCoordinate(eye[2], camera.center[2], limit)];
    }

    // The framed view: in front of the box centre (+z side, +y up).
    function reset() {
        var c = camera.center, twice = f(2 * camera.extent);
        camera.eye = [c[0], c[1], f(c[2] + twice)];
        camera.distance = twice;
        camera.angle = 0;
        camera.axis = [0, 0, 1];
        trackball.spinning = false;
    }

    // `center` and `extent` are the viewer's framing of the same voxels.
    function frame(center, extent) {
        camera.center = [f(center[0]), f(center[1]), f(center[2])];
        camera.extent = f(extent);
        reset();
    }

    // A step in view coordinates about the pivot point: the eye orbits it.
    function turnAboutPivot(step) {
        var look = [0, 0, -1], d = camera.distance;
        var q = fromAngleAxis(camera.angle, camera.axis);
        var forward = inverseTurn(q, look), eye = camera.eye;
        var pivot = [f(eye[0] + d * forward[0]), f(eye[1] + d * forward[1]), f(eye[2] + d * forward[2])];
        q = normalize(multiply(step, q));
        setAngleAxis(q);
        forward = inverseTurn(q, look);
        camera.eye = clampEye([f(pivot[0] - d * forward[0]), f(pivot[1] - d * forward[1]),
                               f(pivot[2] - d * forward[2])]);
        return q;
    }

    function lift(x, y) {
        var s = x * x + y * y;
        var z = s < sheetStart ? Math.sqrt(ballRadiusSquared - s) : sheetStart / Math.sqrt(s);
        return normalizeVector([x, y, f(z)]);
    }

    // One drag step between normalised pointer positions, `now` in seconds.
    function drag(prevX, prevY, curX, curY, now) {
        curX = f(curX + extrapolation * (curX - prevX));
        curY = f(curY + extrapolation * (curY - prevY));
        var step = [1, 0, 0, 0];
        if (curX !== prevX || curY !== prevY) {
            var p1 = lift(prevX, prevY), p2 = lift(curX, curY);
            var axis = normalizeVector([f(p1[1] * p2[2] - p1[2] * p2[1]),
                                        f(p1[2] * p2[0] - p1[0] * p2[2]),
                                        f(p1[0] * p2[1] - p1[1] * p2[0])]);
            var dx = curX - prevX, dy = curY - prevY;
            step = fromAngleAxis(f(ballRadius * Math.sqrt(dx * dx + dy * dy)), axis);
        }
        turnAboutPivot(step);
        var turned = f(2 * Math.acos(step[0]));
        trackball.spinAxis = turned === 0 ? [0, 0, 1] : normalizeVector([step[1], step[2], step[3]]);
        var dt = now - trackball.lastTick;
        if (dt > speedWindowSeconds)
            trackball.angularSpeed = f(turned / dt);
        else
            trackball.angularSpeed = f((1 - dt / speedWindowSeconds) * trackball.angularSpeed +
                                       turned / speedWindowSeconds);
        trackball.lastTick = now;
    }

    function release(now) {
        var dt = now - trackball.lastTick;
        if (dt < speedWindowSeconds && Math.abs(trackball.angularSpeed) > minSpinSpeed)
            trackball.spinning = true;
    }

    // A spin step of a released turn; false when nothing spins.
    function spin(now) {
        if (!trackball.spinning) return false;
        var dt = now - trackball.lastTick;
        turnAboutPivot(fromAngleAxis(dt * trackball.angularSpeed, trackball.spinAxis));
        trackball.lastTick = now;
        return true;
    }

    // Pan (dx, dy in normalised pointer units; the model follows the
    // pointer) and zoom (dz, positive toward the pivot point).
    function move(dx, dy, dz) {
        var d = camera.distance;
        var k = -f(d * 0.5 * invSqrt2);
        var pr = fmax(fmin(f(dx * k), FLT_MAX), -FLT_MAX);
        var pu = fmax(fmin(f(dy * k), FLT_MAX), -FLT_MAX);
        var zoom = d * (Math.exp(-zoomRate * dz) - 1);
        var target = d + zoom, range = distanceRange();
        if (target !== target) zoom = 0;
        else if (target > range[1]) zoom = range[1] - d;
        else if (target < range[0]) zoom = range[0] - d;
        var z = f(zoom);
        var q = fromAngleAxis(camera.angle, camera.axis);
        var right = inverseTurn(q, [1, 0, 0]), up = inverseTurn(q, [0, 1, 0]), back = inverseTurn(q, [0, 0, 1]);
        var eye = camera.eye, next = [];
        for (var k3 = 0; k3 < 3; ++k3)
            next.push(f(pr * right[k3] + pu * up[k3] + z * back[k3] + eye[k3]));
        camera.eye = clampEye(next);
        camera.distance = clampDistance(f(z + camera.distance));
    }

    // Window pixel (x, y) of a w x h window: origin at the centre, y up, the
    // shorter side spanning -1 to +1. Null for a window with no area.
    function normalizePointer(x, y, w, h) {
        if (!(w > 0 && h > 0)) return null;
        var r = f(w / h), sx = 2 * x / w - 1, sy = 1 - 2 * y / h;
        return w > h ? [f(sx * r), f(sy)] : [f(sx), f(sy / r)];
    }

    // The pointer at normalised (x, y) with `buttons` held (left 4, middle
    // 2, right 1): a turn, pan or zoom needs the same buttons at two events
    // in a row, so changing the combination never moves the view by itself.
    function dispatch(x, y, buttons, now) {
        var previous = pointer.lastButtons;
        if (buttons === leftButton) {
            if (previous === 0) trackball.angularSpeed = 0;
            else if (previous === leftButton) drag(pointer.lastX, pointer.lastY, x, y, now);
        }
        if (buttons === 0 && previous === leftButton) release(now);
        if (buttons === rightButton && previous === rightButton)
            move(f(x - pointer.lastX), f(y - pointer.lastY), 0);
        if ((buttons === (leftButton | rightButton) || buttons === middleButton) && buttons === previous)
            move(0, 0, f(f(pointer.lastY - y) - f(pointer.lastX - x)));
        pointer.lastX = x;
        pointer.lastY = y;
        pointer.lastButtons = buttons;
    }

    // The page's events as the viewer's callbacks take them. A button
    // pressed or let go stops a spin, then the pointer is dispatched with
    // the buttons now held; pixel (x, y) of a w x h window.
    function pointerEvent(buttons, x, y, w, h, now, buttonChanged) {
        if (buttonChanged) trackball.spinning = false;
        var p = normalizePointer(x, y, w, h);
        if (p) dispatch(p[0], p[1], buttons, now);
    }

    // `steps` zoom steps of the wheel, each as the viewer takes one: in when
    // positive, then the pointer dispatched as a button event.
    function wheel(steps, buttons, x, y, w, h, now) {
        for (var i = 0; i < Math.abs(steps); ++i) {
            move(0, 0, steps > 0 ? zoomStep : -zoomStep);
            pointerEvent(buttons, x, y, w, h, now, true);
        }
    }

    // Space frames the model again; z and Z zoom a step in and out. False
    // for any other key.
    function key(name) {
        if (name === " ") reset();
        else if (name === "z") move(0, 0, zoomStep);
        else if (name === "Z") move(0, 0, -zoomStep);
        else return false;
        return true;
    }

    return {
        camera: camera, trackball: trackball, pointer: pointer, invSqrt2: invSqrt2, frame: frame, spin: spin,
        pointerEvent: pointerEvent, wheel: wheel, key: key,
    };
})();

if (typeof module !== "undefined") module.exports = voxelCamera;
