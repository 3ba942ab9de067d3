// The vhook option: video processing modules loaded from shared libraries
// (interface in VHookModule.h).
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "FFLog/FFLog.h"
#include "FFmpeg/FFmpeg.h"
#include "FFmpeg/VHookModule.h"
#include "FFmpegOpt/OptionText.h"

namespace vexa {

namespace {

constexpr size_t kMaxArguments = 62;

// The libraries a 64-bit ELF shared object names as needed (DT_NEEDED).
std::vector<std::string> NeededLibraries(const std::string& path) {
  std::vector<std::string> names;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return names;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_size < static_cast<off_t>(sizeof(Elf64_Ehdr))) {
    close(fd);
    return names;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (mapped == MAP_FAILED) return names;
  const auto* base = static_cast<const uint8_t*>(mapped);
  const auto* eh = reinterpret_cast<const Elf64_Ehdr*>(base);
  auto inside = [&](uint64_t offset, uint64_t length) { return offset <= size && length <= size - offset; };
  if (memcmp(eh->e_ident, ELFMAG, SELFMAG) == 0 && eh->e_ident[EI_CLASS] == ELFCLASS64 &&
      inside(eh->e_phoff, static_cast<uint64_t>(eh->e_phnum) * sizeof(Elf64_Phdr))) {
    const auto* ph = reinterpret_cast<const Elf64_Phdr*>(base + eh->e_phoff);
    // File offset of a virtual address, through the loadable segments.
    auto offsetOf = [&](uint64_t address, uint64_t& offset) {
      for (int i = 0; i < eh->e_phnum; ++i)
        if (ph[i].p_type == PT_LOAD && address >= ph[i].p_vaddr && address - ph[i].p_vaddr < ph[i].p_filesz) {
          offset = ph[i].p_offset + (address - ph[i].p_vaddr);
          return true;
        }
      return false;
    };
    for (int i = 0; i < eh->e_phnum; ++i) {
      if (ph[i].p_type != PT_DYNAMIC || !inside(ph[i].p_offset, ph[i].p_filesz)) continue;
      const auto* dyn = reinterpret_cast<const Elf64_Dyn*>(base + ph[i].p_offset);
      const size_t count = ph[i].p_filesz / sizeof(Elf64_Dyn);
      uint64_t strtab = 0, strsz = 0;
      for (size_t k = 0; k < count && dyn[k].d_tag != DT_NULL; ++k) {
        if (dyn[k].d_tag == DT_STRTAB) strtab = dyn[k].d_un.d_ptr;
        if (dyn[k].d_tag == DT_STRSZ) strsz = dyn[k].d_un.d_val;
      }
      uint64_t strOffset = 0;
      if (!strtab || !offsetOf(strtab, strOffset) || !inside(strOffset, strsz)) break;
      for (size_t k = 0; k < count && dyn[k].d_tag != DT_NULL; ++k)
        if (dyn[k].d_tag == DT_NEEDED && dyn[k].d_un.d_val < strsz)
          names.emplace_back(reinterpret_cast<const char*>(base + strOffset + dyn[k].d_un.d_val),
                             strnlen(reinterpret_cast<const char*>(base + strOffset + dyn[k].d_un.d_val),
                                     strsz - dyn[k].d_un.d_val));
      break;
    }
  }
  munmap(mapped, size);
  return names;
}

// Loaded module libraries by file name; they stay loaded for the process.
std::mutex& ModuleListLock() {
  static std::mutex lock;
  return lock;
}
std::map<std::string, void*>& ModuleList() {
  static std::map<std::string, void*> list;
  return list;
}

// Loads the module once per process. Libraries it needs that lie in its own
// folder are loaded from there first, so that a module can bring its
// dependencies along. nullptr with AError set on failure.
void* LoadModule(const std::string& AFileName, std::string& AError) {
  std::lock_guard<std::mutex> guard(ModuleListLock());
  auto found = ModuleList().find(AFileName);
  if (found != ModuleList().end()) return found->second;
  const std::string::size_type slash = AFileName.rfind('/');
  if (slash != std::string::npos) {
    const std::string folder = AFileName.substr(0, slash + 1);
    for (const std::string& needed : NeededLibraries(AFileName)) {
      if (needed.find('/') != std::string::npos) continue;
      const std::string candidate = folder + needed;
      if (access(candidate.c_str(), R_OK) == 0) dlopen(candidate.c_str(), RTLD_NOW | RTLD_GLOBAL);
    }
  }
  void* handle = dlopen(AFileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = dlerror();
    AError = error ? error : "cannot load " + AFileName;
    return nullptr;
  }
  ModuleList()[AFileName] = handle;
  return handle;
}

// Tokens of the option text: at "|" when it has one, else at blanks.
std::vector<std::string> SplitVHookText(const std::string& AText) {
  std::vector<std::string> tokens;
  const bool bars = AText.find('|') != std::string::npos;
  std::string token;
  bool inToken = false;
  for (char c : AText) {
    const bool separator = bars ? c == '|' : (c == ' ' || c == '\t');
    if (separator) {
      if (inToken || bars) tokens.push_back(token);
      token.clear();
      inToken = false;
    } else {
      token += c;
      inToken = true;
    }
  }
  if (inToken || (bars && !token.empty())) tokens.push_back(token);
  return tokens;
}

}  // namespace

int TCustomFFmpeg::OptVHook(TFileOptions*, const std::string&, const std::string& arg) { return AddVHook(arg); }

int TCustomFFmpeg::AddVHook(const std::string& AArg) {
  std::vector<std::string> tokens = SplitVHookText(AArg);
  int result = 0;
  if (tokens.empty() || tokens[0].empty()) {
    Log(this, llError, "No video hook module named");
    result = -1;
  }
  if (tokens.size() > kMaxArguments + 1) tokens.resize(kMaxArguments + 1);
  void* library = nullptr;
  if (result == 0) {
    std::string error;
    library = LoadModule(tokens[0], error);
    if (!library) {
      Log(this, llError, error);
      result = -1;
    }
  }
  TVHookModule module;
  if (result == 0) {
    module.Configure = dlsym(library, "Configure");
    module.Process = dlsym(library, "Process");
    module.Release = dlsym(library, "Release");
    if (!module.Process) {
      LogFmt(this, llError, "Failed to find Process entrypoint in %s\n", tokens[0].c_str());
      result = -2;
    } else if (!module.Configure && tokens.size() > 1) {
      LogFmt(this, llError, "Failed to find Configure entrypoint in %s\n", tokens[0].c_str());
      result = -2;
    } else if (module.Configure) {
      std::vector<char*> argv;
      for (std::string& t : tokens) argv.push_back(t.data());
      argv.push_back(nullptr);
      if (reinterpret_cast<VexaVHookConfigure>(module.Configure)(&module.Context, static_cast<int>(tokens.size()),
                                                                 argv.data()) != 0) {
        LogFmt(this, llError, "Failed to Configure %s\n", tokens[0].c_str());
        result = -22;
      }
    }
  }
  if (result != 0) AbortWithError("Failed to add video hook function: " + AArg);
  VHookModules.push_back(module);
  VHookActive = true;
  return 0;
}

}  // namespace vexa
