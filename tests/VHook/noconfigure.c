/* A module with Process only: it takes no arguments. */
#include "FFmpeg/VHookModule.h"

static int g_process;

void Process(void* ctx, VexaVHookPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
  (void)ctx;
  (void)picture;
  (void)pix_fmt;
  (void)width;
  (void)height;
  (void)pts;
  ++g_process;
}

int TestProcessCalls(void) { return g_process; }
