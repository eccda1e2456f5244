// The name the converter's notes and its few lines of its own start with:
// vxlconv's unless the program that runs the conversion says otherwise.
#pragma once

extern const char* programName;
