#pragma once
// A progress window that only records what it is told.
#include <vector>

#include "crash/delivery/KXSendProgress.h"

namespace kx::test {

class RecordingProgress : public IProgressAlert {
public:
  std::vector<KXProgressArea> areas;
  int current = 0;
  int32_t position = 0;
  int clears = 0, shows = 0, closes = 0;
  KXWindowHandle shownOwner = nullptr;
  bool shownActivate = false;

  std::string GetTitle() override { return {}; }
  void SetTitle(const std::string &) override {}
  int32_t GetPosition() override { return position; }
  void SetPosition(int32_t value) override { position = value; }
  void AddArea(int64_t weight, const std::string &text) override { areas.push_back({weight, text}); }
  void ClearAreas() override {
    areas.clear();
    current = 0;
    ++clears;
  }
  void AreaDone() override {
    ++current;
    position = 0;
  }
  int32_t GetCurrentArea() override { return current; }
  void SetCurrentArea(int32_t value) override { current = value; }
  void ProcessMessages() override {}
  bool Show(KXWindowHandle parent, bool activate) override {
    ++shows;
    shownOwner = parent;
    shownActivate = activate;
    return true;
  }
  void Close() override { ++closes; }
};

} // namespace kx::test
