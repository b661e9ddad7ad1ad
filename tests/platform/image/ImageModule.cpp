// A tiny shared library whose image the shared-library tests load from memory.
extern "C" __attribute__((visibility("default"))) int image_module_answer() {
    return 42;
}
