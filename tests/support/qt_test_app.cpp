// One application object for each user-interface test program (offscreen),
// created before the first test and deleted after the last.
#include <gtest/gtest.h>

#include <memory>

#include "shell/ui/safe_application.h"

namespace {

class AppEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    if (QApplication::instance()) return;
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<astrelon::TSafeApplication>(argc_, argv_);
  }
  void TearDown() override { app_.reset(); }

private:
  int argc_ = 1;
  char name_[16] = "astrelon-test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<astrelon::TSafeApplication> app_;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

}  // namespace
