// The media library loader.
//
// The engine is linked directly against the FFmpeg libraries, so "loading" a
// row records that the library is present in the process (its shared object
// is found among the loaded ones), checks that the library's run-time major
// version equals the one the program was built with, and runs the library's
// registration and post-bind work:
//   avdevice  avdevice_register_all
//   avformat  avformat_network_init (avformat_network_deinit on unload), then
//             RegisterUnicodeProtocol
//   avutil    HookMediaLog (UnhookMediaLog on unload)
// The C runtime row is libc and needs no version check. The libraries lock
// internally, so no lock manager is installed, and x86-64 has no x87 control
// word to set.
//
// Loading and unloading run on the main thread; Loaded / IsLoaded /
// CheckLibs may be asked from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>

namespace vexa {

// Row indices; the index is the loading order.
enum TLibrary : int32_t {
  libAVCodec = 0,
  libAVDevice = 1,
  libAVFilter = 2,
  libAVFormat = 3,
  libAVUtil = 4,
  libSwResample = 5,
  libSwScale = 6,
  libMSVCRT = 7,  // the C runtime: libc here
};

constexpr int LibraryCount = 8;

// A set of rows, one bit per row.
class TLibrarySet {
 public:
  constexpr TLibrarySet() = default;
  constexpr explicit TLibrarySet(uint8_t bits) : Bits_(bits) {}
  constexpr TLibrarySet(std::initializer_list<TLibrary> rows) {
    for (TLibrary row : rows) Bits_ = static_cast<uint8_t>(Bits_ | (1u << row));
  }

  constexpr uint8_t Bits() const { return Bits_; }
  constexpr bool Empty() const { return Bits_ == 0; }
  constexpr bool Contains(int row) const {
    return row >= 0 && row < LibraryCount && (Bits_ >> row) & 1u;
  }
  constexpr bool operator==(TLibrarySet other) const { return Bits_ == other.Bits_; }
  constexpr bool operator!=(TLibrarySet other) const { return Bits_ != other.Bits_; }

 private:
  uint8_t Bits_ = 0;
};

constexpr TLibrarySet EncoderLibs{0xFF};
constexpr TLibrarySet DecoderLibs{libAVCodec, libAVFormat, libAVUtil, libSwResample, libSwScale,
                                  libMSVCRT};
constexpr TLibrarySet AllLibs{0xFF};

// One row of the library table.
struct TLibraryItem {
  int32_t Lib;       // row index
  const char* Name;  // base name, used in messages
  bool NoPath;       // never searched in LibraryPath
  int32_t Version;   // the build's major version; -1: none
  // Registration run when the row is bound; throws on failure.
  void (*LoadProc)();
  // Undoes LoadProc when the row is unbound.
  void (*UnloadProc)();
  // The run-time major version of the library (absent for the C runtime).
  int (*RuntimeVersion)();
};

struct TLibraryStatus {
  int32_t Lib = 0;
  void* Handle = nullptr;  // null: not loaded
  bool Loaded = false;     // bound and registered
};

// The fixed table of the eight rows.
const TLibraryItem& LibraryItem(int Lib);

class TFFLoader {
 public:
  // Replaces the run-time version query of the rows (tests use it to simulate
  // a library of another major version). Empty restores the libraries' own.
  using TVersionQuery = std::function<int(int Lib)>;

  TFFLoader();
  ~TFFLoader();
  TFFLoader(const TFFLoader&) = delete;
  TFFLoader& operator=(const TFFLoader&) = delete;

  // The library folder the encoder component hands over. Kept for its
  // callers; nothing is searched in it, since the libraries are linked.
  std::string LibraryPath() const;
  void SetLibraryPath(const std::string& value);
  std::string LastErrMsg() const;

  // Loads every row of the set in index order. At the first failure every row
  // of the set is unloaded (also rows loaded by earlier calls) and the result
  // is false, with the reason in LastErrMsg. An empty set throws
  // std::invalid_argument.
  bool LoadLibs(TLibrarySet Libs);
  // True when every row of the set is loaded. Empty set: std::invalid_argument.
  bool Loaded(TLibrarySet Libs) const;
  // Throws FFmpegException("Library %s not loaded.") for the first row of the
  // set that is not loaded.
  void CheckLibs(TLibrarySet Libs) const;
  // Unloads every row of the set in index order. Empty set:
  // std::invalid_argument.
  void UnloadLibs(TLibrarySet Libs);

  // One row; an index outside 0..7 throws std::out_of_range.
  bool LoadLib(int Lib);
  void UnloadLib(int Lib);
  bool IsLoaded(int Lib) const;
  TLibraryStatus Status(int Lib) const;

  // The shared object of the row, e.g. "libavcodec.so.59"; "libc.so.6" for the
  // C runtime row.
  static std::string LibFileName(int Lib);

  // Process end: unloads every row and clears LastErrMsg and LibraryPath.
  // The destructor does the same.
  void Shutdown();

  void SetVersionQuery(TVersionQuery query);

 private:
  bool LoadLibLocked(int Lib);
  void UnloadLibLocked(int Lib);
  int RuntimeVersion(int Lib) const;

  mutable std::mutex Mutex_;
  TLibraryStatus Status_[LibraryCount];
  std::string LibraryPath_;
  std::string LastErrMsg_;
  TVersionQuery VersionQuery_;
};

// The process-wide loader. It lives to the very end of the process (it is
// never destroyed, so it can be asked from any thread during exit); call
// Shutdown to unload its rows explicitly.
TFFLoader& FFLoader();

}  // namespace vexa
