// --any-layout: unpacks any MIME archive, its parts found by their headers
// rather than by line position.
#pragma once

#include <string>

struct AnyLayoutOptions {
  // Points the references of HTML and CSS parts at the files written for
  // the parts they name, and says where the main page is.
  bool offline = false;
};

// Unpacks every part of the archive at `archive_path` into the current
// directory; failures are fatal, as in the default mode.
void extract_any_layout(const std::string& archive_path,
                        const AnyLayoutOptions& options = {});
