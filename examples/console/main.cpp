// console_example throw|fault|thread: each request ends in a bug report (bugreport.txt beside
// the exe). Linking Kestrelix::Kestrelix is all it takes; nothing here calls the reporter.
#include <cstdio>
#include <cstring>
#include <thread>

#include "Station.h"

int main(int argc, char **argv) {
  const char *request = argc > 1 ? argv[1] : "";
  if (std::strcmp(request, "throw") == 0) {
    std::printf("interval: %d\n", ReadInterval());
  } else if (std::strcmp(request, "fault") == 0) {
    StoreReading(nullptr, 30);
  } else if (std::strcmp(request, "thread") == 0) {
    std::thread reader([] { std::printf("interval: %d\n", ReadInterval()); });
    reader.join();
  } else {
    std::printf("usage: console_example throw|fault|thread\n");
    return 2;
  }
  return 0;
}
