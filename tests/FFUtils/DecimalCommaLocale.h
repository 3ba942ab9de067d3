// A locale whose decimal separator is a comma, for tests that must show that
// number handling does not follow the process locale.
#pragma once

#include <string>

namespace vexa::test {

// Finds an installed decimal-comma locale (de_DE, fr_FR ...) or, when there
// is none, generates one with localedef into a private folder and points
// LOCPATH at it while the object lives. Name() is empty when neither worked;
// Failure() then says why.
class TDecimalCommaLocale {
 public:
  TDecimalCommaLocale();
  ~TDecimalCommaLocale();
  TDecimalCommaLocale(const TDecimalCommaLocale&) = delete;
  TDecimalCommaLocale& operator=(const TDecimalCommaLocale&) = delete;

  const std::string& Name() const { return Name_; }
  const std::string& Failure() const { return Failure_; }

 private:
  bool Generate();

  std::string Name_;
  std::string Failure_;
  std::string Folder_;
  bool HadLocPath_ = false;
  std::string OldLocPath_;
  bool SetLocPath_ = false;
};

}  // namespace vexa::test
