/* A module without Process. */
int Configure(void** ctxp, int argc, char* argv[]) {
  (void)argc;
  (void)argv;
  *ctxp = 0;
  return 0;
}
