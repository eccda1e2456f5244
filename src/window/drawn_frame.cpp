#include "window/drawn_frame.h"

DrawnFrameSize lastDrawnFrame = {};
