#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>

#include "messages.h"

namespace {

// Every option the tool knows, one row each: a switch sets its flag, an
// option with a value sets its text (and its flag, if it has one, to tell
// that it was given). An option without a short form has letter 0. --help
// lists the rows in this order, each with its text from the catalogue.
struct OptionRow {
  char letter;
  const char* name;
  bool Options::*flag;
  std::string_view Options::*value;
  const UsageText* usage;
  // The value may be left out, and is given only after "=".
  bool value_optional = false;
};

constexpr std::array ROWS{
    OptionRow{'C', "directory", nullptr, &Options::directory,
              &usage::DIRECTORY},
    OptionRow{'d', "dir-per-archive", &Options::dir_per_archive, nullptr,
              &usage::DIR_PER_ARCHIVE},
    OptionRow{'t', "table", &Options::table_given, &Options::table,
              &usage::TABLE},
    OptionRow{'l', "list", &Options::list, nullptr, &usage::LIST},
    OptionRow{'q', "quiet", &Options::quiet, nullptr, &usage::QUIET},
    OptionRow{'a', "any-layout", &Options::any_layout, nullptr,
              &usage::ANY_LAYOUT},
    OptionRow{0, "offline", &Options::offline, nullptr, &usage::OFFLINE},
    OptionRow{0, "json", &Options::json, nullptr, &usage::JSON},
    OptionRow{'k', "keep-going", &Options::keep_going, nullptr,
              &usage::KEEP_GOING},
    OptionRow{'n', "no-clobber", &Options::no_clobber, nullptr,
              &usage::NO_CLOBBER},
    OptionRow{0, "only", &Options::only_given, &Options::only, &usage::ONLY},
    OptionRow{0, "single-file", &Options::single_file, &Options::single_file_to,
              &usage::SINGLE_FILE, true},
    OptionRow{0, "no-network", &Options::no_network, nullptr,
              &usage::NO_NETWORK},
    OptionRow{0, "progress", &Options::progress, nullptr, &usage::PROGRESS},
    OptionRow{'h', "help", &Options::help, nullptr, &usage::HELP},
    OptionRow{'V', "version", &Options::version, nullptr, &usage::VERSION},
};

// Every row has a value's name in its text exactly when it takes a value. A
// row without a text fails too, as a null dereference, which no constant
// expression allows (comparing the address with null is not one in a
// sanitizer build).
constexpr bool usage_matches_rows() {
  return std::ranges::all_of(ROWS, [](const OptionRow& row) {
    return row.usage->value.empty() ==
           (row.value == nullptr || row.value_optional);
  });
}
static_assert(usage_matches_rows());

// The usage's view of the table, for the catalogue's --help.
const std::array<UsageOption, ROWS.size()> USAGE = [] {
  std::array<UsageOption, ROWS.size()> usage{};
  for (std::size_t i = 0; i < ROWS.size(); ++i)
    usage[i] = {ROWS[i].letter, ROWS[i].name, ROWS[i].usage};
  return usage;
}();

// What getopt_long returns for row `index`.
int code_of(std::size_t index) {
  return ROWS[index].letter != 0 ? ROWS[index].letter
                                 : 256 + static_cast<int>(index);
}

// The option a failure is about, as the user typed it: a long one whole
// ("--quiet=x", "--tab"), a short one as its letter ("-x" of "-qx").
std::string_view offending(char** argv, int element) {
  const std::string_view typed = argv[element];
  if (typed.substr(0, 2) == "--") return typed;
  static std::string letter;
  letter = {'-', static_cast<char>(optopt)};
  return letter;
}

}  // namespace

Options parse_options(int argc, char** argv) {
  set_usage_options(USAGE.data(), USAGE.size());
  // "-": paths come back in place, in order, whatever POSIXLY_CORRECT says;
  // ":": a missing value is told apart from an unknown option.
  std::string letters = "-:";
  std::array<option, ROWS.size() + 1> names{};
  for (std::size_t i = 0; i < ROWS.size(); ++i) {
    const bool takes_value = ROWS[i].value != nullptr;
    if (ROWS[i].letter != 0) {
      letters += ROWS[i].letter;
      if (takes_value) letters += ':';
    }
    const int argument = ROWS[i].value_optional ? optional_argument
                         : takes_value          ? required_argument
                                                : no_argument;
    names[i] = {ROWS[i].name, argument, nullptr, code_of(i)};
  }

  Options options;
  opterr = 0;  // the tool speaks for itself
  optind = 0;  // start afresh: run() may be called more than once
  for (;;) {
    // The element getopt works on: optind moves past it only once done.
    const int element = optind > 0 ? optind : 1;
    const int code =
        getopt_long(argc, argv, letters.c_str(), names.data(), nullptr);
    if (code == -1) break;
    if (code == 1) {
      options.archives.emplace_back(optarg);
      continue;
    }
    if (code == '?') fail_bad_option(offending(argv, element));
    if (code == ':') fail_option_value_missing(offending(argv, element));
    for (std::size_t i = 0; i < ROWS.size(); ++i) {
      if (code_of(i) != code) continue;
      if (ROWS[i].flag != nullptr) options.*ROWS[i].flag = true;
      if (ROWS[i].value != nullptr && optarg != nullptr)
        options.*ROWS[i].value = optarg;
    }
    if (options.help || options.version) return options;
  }
  if (options.offline || options.single_file) options.any_layout = true;
  // Standard output is the only place --single-file names.
  if (!options.single_file_to.empty() && options.single_file_to != "-")
    fail_bad_option("--single-file=" + std::string(options.single_file_to));
  // Whatever follows "--" is a path.
  for (int i = optind; i < argc; ++i) options.archives.emplace_back(argv[i]);
  // Standard input is read once: a second "-" would find it at its end.
  if (std::ranges::count(options.archives, std::string_view("-")) > 1)
    fail_standard_input_twice();
  return options;
}
