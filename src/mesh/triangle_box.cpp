#include "mesh/triangle_box.h"

#include "math/vec3.h"

#include <algorithm>
#include <cmath>

static void subtract(const double p[3], const double q[3], double out[3]) {
    for (int k = 0; k < 3; ++k)
        out[k] = p[k] - q[k];
}

// True when `axis` separates the triangle (already relative to the box
// centre) from the box: the triangle's projection lies wholly beyond the
// box's projection radius on one side.
static bool separates(const double axis[3], const double v[3][3], const double half[3]) {
    double p0 = dot3(axis, v[0]), p1 = dot3(axis, v[1]), p2 = dot3(axis, v[2]);
    double radius =
        half[0] * std::fabs(axis[0]) + half[1] * std::fabs(axis[1]) + half[2] * std::fabs(axis[2]);
    return std::min({p0, p1, p2}) > radius || std::max({p0, p1, p2}) < -radius;
}

bool triangleBoxOverlap(const double center[3], const double half[3], const double a[3],
                        const double b[3], const double c[3]) {
    double v[3][3];
    subtract(a, center, v[0]);
    subtract(b, center, v[1]);
    subtract(c, center, v[2]);

    // Box face normals: the triangle's bounding box against the box.
    for (int k = 0; k < 3; ++k) {
        double lo = std::min({v[0][k], v[1][k], v[2][k]});
        double hi = std::max({v[0][k], v[1][k], v[2][k]});
        if (lo > half[k] || hi < -half[k])
            return false;
    }

    double edges[3][3];
    subtract(v[1], v[0], edges[0]);
    subtract(v[2], v[1], edges[1]);
    subtract(v[0], v[2], edges[2]);

    double normal[3];
    cross3(edges[0], edges[1], normal);
    if (separates(normal, v, half))
        return false;

    for (const auto& edge : edges)
        for (int k = 0; k < 3; ++k) {
            double boxAxis[3] = {0, 0, 0};
            boxAxis[k] = 1;
            double axis[3];
            cross3(edge, boxAxis, axis);
            if (separates(axis, v, half))
                return false;
        }
    return true;
}
