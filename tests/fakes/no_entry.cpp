// A loadable library without the archiver entry point.
extern "C" __attribute__((visibility("default"))) int SomethingElse() { return 0; }
