// The command line: options in GNU style and the archive paths.
#pragma once

#include <string_view>
#include <vector>

struct Options {
  std::vector<std::string_view> archives;  // in the order given
  std::string_view directory = ".";        // -C, --directory
  bool dir_per_archive = false;            // -d, --dir-per-archive
  std::string_view table = "base64.conf";  // -t, --table
  bool table_given = false;                // -t named the table
  bool list = false;                       // -l, --list
  bool quiet = false;                      // -q, --quiet
  bool any_layout = false;                 // -a, --any-layout
  bool offline = false;                    // --offline (implies -a)
  bool json = false;                       // --json
  bool keep_going = false;                 // -k, --keep-going
  bool no_clobber = false;                 // -n, --no-clobber
  std::string_view only;                   // --only TYPES
  bool only_given = false;                 // --only named the types
  bool single_file = false;                // --single-file (implies -a)
  std::string_view single_file_to;         // --single-file=- ("-" only)
  bool no_network = false;                 // --no-network
  bool progress = false;                   // --progress
  bool help = false;                       // -h, --help
  bool version = false;                    // -V, --version
};

// Reads the command line. Options may be bundled (-ql) and stand anywhere
// among the paths; "--" ends them. --help and --version end the reading
// where they stand. An unknown option or a missing value is fatal.
Options parse_options(int argc, char** argv);
