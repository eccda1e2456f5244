// vxlconv --view: the conversion written into a private folder, shown by the
// viewer, and removed when the viewer ends, whichever way it ends.
#pragma once

#include "convert/conversion_options.h"

#include <functional>
#include <string>
#include <vector>

// The name of the voxel file shown for `input`: its last part, without a
// .gz and then its extension, ending in .vxl ("head.nii.gz" -> "head.vxl").
std::string viewFileName(const std::string& input);

// The viewer beside the program `executable` (its folder's "voxscope").
std::string viewerBeside(const std::string& executable);

// The viewer's command line: the file's name as the program's name (the
// viewer's title), GLUT's options as given, then the file.
std::vector<std::string> viewerArguments(const ConversionOptions& options, const std::string& file);

// The whole of --view: makes the private folder, runs `convert` (which
// writes options.output, set here, and returns an exit status, printing its
// own refusal) in a child process, starts the viewer found beside this
// program or else on the PATH, waits for it and removes the folder.
// Returns the viewer's exit status, or 1 after one line on stderr. SIGINT,
// SIGTERM and SIGHUP are passed on to the child running, and once it has
// ended and the folder is gone, end vxlconv too.
int viewConversion(ConversionOptions& options,
                   const std::function<int(const ConversionOptions&)>& convert);
