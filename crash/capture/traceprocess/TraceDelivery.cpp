#include "crash/capture/traceprocess/TraceDelivery.h"

#include <algorithm>

namespace kx {

bool TraceGoesToClipboard(int32_t bufSize) { return bufSize < 1; }

size_t DeliveredLength(size_t textLength, int32_t bufSize, size_t viewSize) {
  if (bufSize < 1 || viewSize == 0)
    return 0;
  return std::min({textLength, size_t(bufSize) - 1, viewSize - 1});
}

} // namespace kx
