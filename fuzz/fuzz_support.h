// What every fuzz target shares: fatal conditions become an exception the
// target catches, and the tool's chatter on standard output goes nowhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// For targets that write files: a scratch tree (on tmpfs where there is
// one) holding the archive file, a work directory that serves as the
// current directory while an input runs, and beside it a directory whose
// contents must never change. Links planted in the work directory lead
// beside it (absolute, relative, dangling, to a file) and inside it.
// Call scratch_setup once from LLVMFuzzerInitialize.
void scratch_setup();
// The archive file's path, and writing an input into it.
const std::string& scratch_archive();
void scratch_write_archive(const std::uint8_t* data, std::size_t size);
// Enters the work directory with its links planted.
void scratch_enter();
// Checks that nothing beside the work directory was made or changed (and
// that the current directory is still the work directory), returns to the
// fuzzer's own directory and empties the work directory.
void scratch_leave();
// One input's run in the work directory, from scratch_enter to
// scratch_leave: a documented fatal condition ends `unpack` where the
// program would exit; `check` then looks at what is left before it goes.
void scratch_unpack(const std::function<void()>& unpack,
                    const std::function<void()>& check = {});
