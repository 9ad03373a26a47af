// A plain console program with the reporter, as a program outside the tree links it
// (Kestrelix::Kestrelix, kestrelix_add_reporter), for the failures the examples leave out:
//   plain_program overflow | system | terminate | createthread | nothrow
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>

namespace {

// Deep enough for any stack (the way out is never taken); the volatile array keeps every frame.
__attribute__((noinline)) int Recurse(int depth) {
  if (depth < 0)
    return 0;
  volatile char frame[512];
  frame[0] = char(depth);
  return Recurse(depth + 1) + frame[0];
}

// Hands a bad pointer to the C runtime: the fault happens in system code. The call stays a call
// (x86-64 code would otherwise jump to strlen, leaving no frame of this function behind).
__attribute__((noinline, optimize("no-optimize-sibling-calls"))) size_t MeasureLabel(const char *label) {
  size_t (*volatile length)(const char *) = &std::strlen;
  return length(label);
}

DWORD WINAPI Sampler(void *) {
  MeasureLabel(reinterpret_cast<const char *>(16));
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  const char *request = argc > 1 ? argv[1] : "";
  if (std::strcmp(request, "overflow") == 0)
    return Recurse(0);
  if (std::strcmp(request, "system") == 0)
    return int(MeasureLabel(reinterpret_cast<const char *>(16)));
  if (std::strcmp(request, "terminate") == 0)
    std::terminate();
  if (std::strcmp(request, "createthread") == 0) {
    HANDLE thread = CreateThread(nullptr, 0, &Sampler, nullptr, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    return 0;
  }
  std::printf("nothing asked\n");
  return 0;
}
