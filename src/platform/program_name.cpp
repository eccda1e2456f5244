#include "platform/program_name.h"

const char* programName = "vxlconv";
