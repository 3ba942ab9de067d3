// Fuzz target of the option-line parser (see OptionsFuzzInput.h for the
// layout of an input and the outcomes allowed).
#include <cstdio>
#include <cstdlib>

#include "OptionsFuzzInput.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // No OnLog and no log file: the logger drops every line.
  vexa::GetFFLogger().SetLogLevel(vexa::llQuiet);
  vexa::HookMediaLog();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const vexa::fuzz::TFuzzOutcome outcome = vexa::fuzz::RunOptionsFuzzInput(data, size);
  if (!outcome.BrokenRule.empty()) {
    std::fprintf(stderr, "option parser broke a rule: %s\n", outcome.BrokenRule.c_str());
    std::abort();
  }
  return 0;
}
