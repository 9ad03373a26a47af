// libFuzzer target: the assistant's form-definition stream reader and everything a form built
// from it goes through (see FormStreamFuzzing.h). Seeds: the program's three definitions
// (corpus/form_stream); inputs that once failed are kept there too.
#include "tests/fuzz/FormStreamFuzzing.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  kx::fuzz::FuzzFormStream(data, size);
  return 0;
}
