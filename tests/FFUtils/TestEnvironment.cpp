// Routes the media library's own log lines through the engine's logger for
// the whole suite, so they reach OnLog like in the program.
#include <gtest/gtest.h>

#include "FFLog/FFLog.h"

namespace {

class TMediaLogEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { vexa::HookMediaLog(); }
  void TearDown() override { vexa::UnhookMediaLog(); }
};

[[maybe_unused]] ::testing::Environment* const MediaLogEnvironment =
    ::testing::AddGlobalTestEnvironment(new TMediaLogEnvironment);

}  // namespace
