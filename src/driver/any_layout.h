// --any-layout: unpacks any MIME archive, its parts found by their headers
// rather than by line position.
#pragma once

#include <string>
#include <vector>

#include "listing.h"
#include "mime_archive.h"

struct AnyLayoutOptions {
  // Points the references of HTML and CSS parts at the files written for
  // the parts they name, and says where the main page is.
  bool offline = false;
  // -t named a table file: base64 is decoded with its alphabet, read at the
  // first archive as the default mode reads it. Otherwise MIME's own
  // (RFC 2045) alphabet, and no file is read.
  bool own_table = false;
};

// An archive opened and read by its headers, every part named, ready to be
// listed or unpacked. Failures are fatal, as in the default mode: a file
// that can't be opened (-2) or has no MIME header at all (-3).
class AnyLayoutArchive {
 public:
  AnyLayoutArchive(const std::string& path, const AnyLayoutOptions& options);
  AnyLayoutArchive(const AnyLayoutArchive&) = delete;
  AnyLayoutArchive& operator=(const AnyLayoutArchive&) = delete;
  ~AnyLayoutArchive();

  // Writes every part beneath the open directory `root`, each reached and
  // written as the default mode writes its parts (never outside `root`,
  // under a temporary name renamed into place). `root_path` leads to `root`
  // from where the command runs ("" for there itself, else ending in "/"):
  // --offline's main page is said by that path, so a script can open it.
  void extract(int root, const std::string& root_path);

  // Lists every part (its size once decoded, its encoding, its path),
  // adding each to `total`; writes nothing.
  void list(ListTotal& total);

 private:
  std::string path_;
  AnyLayoutOptions options_;
  int fd_ = -1;
  MimeArchive mime_;
  std::vector<std::string> names_;  // names_[i]: the file of leaf i
};
