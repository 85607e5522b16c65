// What every fuzz target shares: fatal conditions become an exception the
// target catches, and the tool's chatter on standard output goes nowhere.
#pragma once

#include <string>
#include <string_view>

// Thrown by the fatal handler instead of ending the process.
struct FuzzFatal {
  int status;
  std::string message;
};

// Installs the throwing fatal handler and sends standard output to
// /dev/null; call once from LLVMFuzzerInitialize.
void fuzz_setup();

// Aborts with `what` on standard error: a property the target checks failed.
[[noreturn]] void fuzz_fail(std::string_view what);
