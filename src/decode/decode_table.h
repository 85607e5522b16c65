// The base64 table a run decodes with: read from its file once, at the
// moments the run chooses, or given outright. One object, made by the
// driver and handed to whatever decodes.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "base64_decoder.h"
#include "base64_table.h"

class DecodeTable {
 public:
  // `file` is read on first use ("base64.conf" in the current directory by
  // default); nothing is read before.
  explicit DecodeTable(std::string file = "base64.conf");
  DecodeTable(const DecodeTable&) = delete;
  DecodeTable& operator=(const DecodeTable&) = delete;
  ~DecodeTable() = default;

  // Reads the file without a word unless a table is in place, so that a
  // body can be decoded while it is read; what loading says waits for
  // announce. True when the table can be used; once read, the file is not
  // read again until announced.
  bool preload();
  // Says what loading the file said: each entry and "Base64 nahran...", or
  // the failure (missing, malformed, no memory), which ends the run.
  // Nothing when nothing was preloaded.
  void announce();
  // preload and announce at once: the table is in place afterwards.
  void load();
  // Makes `table` the run's table without reading the file.
  void use(const Base64table& table);

  [[nodiscard]] bool loaded() const { return table_.table_loaded; }
  [[nodiscard]] const Base64table& table() const { return table_; }
  // The prepared lookup tables; null until preloaded or set.
  [[nodiscard]] const Base64Decoder* decoder() const {
    return prepared_ ? &*prepared_ : nullptr;
  }

 private:
  enum class Preload { none, read, missing, no_memory };

  std::string file_;
  Base64table table_;
  std::optional<Base64Decoder> prepared_;
  // What reading the file gave, kept until it is said.
  Preload preload_ = Preload::none;
  std::unique_ptr<char, void (*)(void*)> bytes_;
  std::size_t size_ = 0;
  bool usable_ = false;  // read and well formed

  Preload read_file();
};
