#include "camera/trackball_state.h"

TrackballState trackball = {};
