// Whether a triangle meets an axis-aligned box: the separating-axis test.
#pragma once

// True when the closed triangle (a, b, c) and the closed box centred at
// `centre` with half edges `half` share a point, judged by the thirteen
// candidate separating axes (the box's three face normals, the triangle's
// normal and the nine cross products of a triangle edge with a box axis).
// Computed in double: a point of either lying within about 1e-15 (relative to
// the coordinates) of the other may be judged either way, so callers that must
// never miss a contact enlarge the box by a margin well above that.
// Degenerate triangles (segments, points) are judged correctly too: their
// zero normal and zero edges give axes that never separate.
bool triangleBoxOverlap(const double center[3], const double half[3], const double a[3],
                        const double b[3], const double c[3]);
