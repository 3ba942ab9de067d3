/* Video processing modules for the "-vhook" option.
 *
 * A module is a shared library that exports these three functions with C
 * linkage (Process is required, Configure is required when the option passes
 * arguments, Release is optional):
 *
 *   int  Configure(void** ctxp, int argc, char* argv[]);
 *   void Process(void* ctx, VexaVHookPicture* picture, int pix_fmt,
 *                int width, int height, int64_t pts);
 *   void Release(void* ctx);
 *
 * The option text is "module args..." split at blanks, or "module|arg|arg"
 * split at "|" when it contains one. Configure receives argv[0] = the module
 * name and at most 62 arguments after it, argv[argc] = NULL; it stores its
 * context in *ctxp and returns 0 (any other value refuses the option). The
 * strings live only during the call.
 *
 * Process runs on the task's thread for every decoded video frame, before
 * the frame is filtered, and may change the pixels in place: picture holds
 * the planes and row lengths of a private copy of the frame in the library
 * pixel format pix_fmt (an AVPixelFormat value); pts is in microseconds.
 *
 * Release is called with the context when the task is cleaned up. A library
 * is loaded once per process and stays loaded; libraries it depends on are
 * also looked for in its own folder.
 */
#ifndef VEXA_VHOOK_MODULE_H
#define VEXA_VHOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VexaVHookPicture {
  uint8_t* data[8];
  int linesize[8];
} VexaVHookPicture;

typedef int (*VexaVHookConfigure)(void** ctxp, int argc, char* argv[]);
typedef void (*VexaVHookProcess)(void* ctx, VexaVHookPicture* picture, int pix_fmt, int width, int height,
                                 int64_t pts);
typedef void (*VexaVHookRelease)(void* ctx);

#ifdef __cplusplus
}
#endif

#endif
