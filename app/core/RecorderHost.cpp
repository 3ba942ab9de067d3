#include "core/RecorderHost.h"

namespace vexa {

bool ControlEnabled(TRecorderControl AControl, TRecorderState AState) {
  switch (AControl) {
    case rcStart:
    case rcDefault:
    case rcExit:
    case rcSettings:
      return AState == rsIdle;
    case rcPause:
      return AState == rsRecording || AState == rsResumed;
    case rcResume:
      return AState == rsPaused;
    case rcStop:
      return AState != rsIdle;
    case rcOutputFolderField:
      return false;
  }
  return false;
}

}  // namespace vexa
