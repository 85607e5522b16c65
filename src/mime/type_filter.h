// --only: which parts a run keeps, by their Content-Type.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TypeFilter {
 public:
  // A comma-separated list of patterns, each "type/subtype", "type/*" or
  // "*/*", of any case, blanks around them ignored. Nothing when the list
  // holds no pattern or one without a slash.
  static std::optional<TypeFilter> parse(std::string_view list);

  // `content_type` as a leaf holds it ("type/subtype", lower-cased); a part
  // without one is text/plain, as MIME reads it.
  [[nodiscard]] bool keeps(std::string_view content_type) const;

 private:
  struct Pattern {
    std::string type;     // "*" for any
    std::string subtype;  // "*" for any
  };
  std::vector<Pattern> patterns_;
};
