#include "DecimalCommaLocale.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

extern char** environ;

namespace vexa::test {
namespace {

bool HasDecimalComma(const char* name) {
  locale_t l = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(0));
  if (!l) return false;
  const bool comma = std::strcmp(nl_langinfo_l(RADIXCHAR, l), ",") == 0;
  freelocale(l);
  return comma;
}

// Runs a program found on PATH with its output discarded; its exit status,
// or -1 when it could not be started.
int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TDecimalCommaLocale::TDecimalCommaLocale() {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    if (HasDecimalComma(name)) {
      Name_ = name;
      return;
    }
  }
  if (!Generate()) Name_.clear();
}

bool TDecimalCommaLocale::Generate() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexa-locale-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    Failure_ = "no temporary folder for the locale";
    return false;
  }
  Folder_ = pattern;
  // Only the numeric category is defined; the others stay those of "C".
  const std::string source = Folder_ + "/vexa_DE.def";
  {
    std::ofstream out(source);
    out << "LC_NUMERIC\n"
           "decimal_point \",\"\n"
           "thousands_sep \".\"\n"
           "grouping 3;3\n"
           "END LC_NUMERIC\n";
    if (!out) {
      Failure_ = "cannot write " + source;
      return false;
    }
  }
  const std::string name = "vexa_DE";
  // -c: write the locale although the other categories are missing, which
  // also makes the exit status non-zero; the result is checked below.
  if (Run({"localedef", "-c", "-i", source, Folder_ + "/" + name}) < 0) {
    Failure_ = "localedef could not be run (package libc-bin)";
    return false;
  }
  struct stat info {};
  if (stat((Folder_ + "/" + name + "/LC_NUMERIC").c_str(), &info) != 0) {
    Failure_ = "localedef made no locale (is the package \"locales\" with its charmaps installed?)";
    return false;
  }
  const char* old = std::getenv("LOCPATH");
  HadLocPath_ = old != nullptr;
  if (old) OldLocPath_ = old;
  setenv("LOCPATH", Folder_.c_str(), 1);
  SetLocPath_ = true;
  if (!HasDecimalComma(name.c_str())) {
    Failure_ = "the generated locale has no decimal comma";
    return false;
  }
  Name_ = name;
  return true;
}

TDecimalCommaLocale::~TDecimalCommaLocale() {
  if (SetLocPath_) {
    if (HadLocPath_)
      setenv("LOCPATH", OldLocPath_.c_str(), 1);
    else
      unsetenv("LOCPATH");
  }
  if (!Folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(Folder_, ignored);
  }
}

}  // namespace vexa::test
