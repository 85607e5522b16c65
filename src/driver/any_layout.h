// --any-layout: unpacks any MIME archive, its parts found by their headers
// rather than by line position.
#pragma once

#include <string>

// Unpacks every part of the archive at `archive_path` into the current
// directory; failures are fatal, as in the default mode.
void extract_any_layout(const std::string& archive_path);
