// The table of output formats: one row per format (write/output_format.h),
// chosen by the output's extension.
#pragma once

#include "write/output_format.h"

#include <string>
#include <vector>

// Every row, in the table's order; the first is what a name without an
// extension is written as.
const std::vector<const OutputFormat*>& outputFormats();

// The extension of the last part of `path`, from its last dot, lower case:
// empty when it has none (no dot, or only a leading or a trailing one).
std::string outputExtension(const char* path);

// The row whose extension `path` ends in, in any case; the first row for a
// name without an extension; null when no row writes its extension.
const OutputFormat* findOutputFormat(const char* path);

// The extensions written, for messages: ".vxl, .abc, ...".
std::string outputExtensionList();

// The extensions of the rows --mesh applies to, in the same form.
std::string meshOutputExtensionList();
