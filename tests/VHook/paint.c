/* A video processing module for the tests: paints the first plane with the
 * helper library's value and records what it was given. */
#include <stdlib.h>
#include <string.h>

#include "FFmpeg/VHookModule.h"

int vexa_vhook_helper_value(void);

typedef struct {
  int value;
} Context;

static int g_argc;
static char g_args[80][64];
static int g_process;
static int g_release;

int Configure(void** ctxp, int argc, char* argv[]) {
  g_argc = argc;
  for (int i = 0; i < argc && i < 80; ++i) {
    strncpy(g_args[i], argv[i], sizeof(g_args[i]) - 1);
    g_args[i][sizeof(g_args[i]) - 1] = '\0';
  }
  if (argv[argc] != NULL) return 2;
  if (argc > 1 && strcmp(argv[1], "fail") == 0) return 1;
  Context* context = calloc(1, sizeof(*context));
  if (!context) return 1;
  context->value = vexa_vhook_helper_value();
  *ctxp = context;
  return 0;
}

void Process(void* ctx, VexaVHookPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
  (void)pix_fmt;
  (void)pts;
  const Context* context = ctx;
  for (int y = 0; y < height; ++y) memset(picture->data[0] + y * picture->linesize[0], context->value, (size_t)width);
  ++g_process;
}

void Release(void* ctx) {
  ++g_release;
  free(ctx);
}

int TestArgCount(void) { return g_argc; }
const char* TestArg(int i) { return i >= 0 && i < 80 ? g_args[i] : ""; }
int TestProcessCalls(void) { return g_process; }
int TestReleaseCalls(void) { return g_release; }
