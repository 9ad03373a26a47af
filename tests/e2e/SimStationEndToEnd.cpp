// Drives the real TidewellSim.exe from another process through window messages: connect to
// the simulated station, read its interval, set a new one, read it back, and check every
// report exchanged in the station's traffic log.
#include "tests/e2e/ToolDriver.h"

using namespace tidewell_e2e;

namespace {
using SimStationEndToEnd = ToolProcessTest;
}

TEST_F(SimStationEndToEnd, ConnectReadSetAndReadBack) {
  EXPECT_EQ(Text(Control(idLblStatus)), "Status: DISCONNECTED");
  EXPECT_FALSE(Enabled(idBtnSet));

  // The controller's first enumeration runs once the message loop does.
  ASSERT_TRUE(WaitFor([&] {
    Click(idBtnConnect);
    return Text(Control(idLblStatus)) == "Status: CONNECTED";
  }));
  EXPECT_FALSE(Enabled(idBtnConnect));
  ASSERT_TRUE(WaitFor([&] { return Text(Control(idEdtCurrent)) == "30"; })) << Text(Control(idEdtCurrent));
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnSet) && Enabled(idBtnRefresh); }));

  Send(Control(idEdtNew), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"240"));
  Click(idBtnSet);
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnSet) && Enabled(idBtnRefresh) && Enabled(idBtnExit); }));
  EXPECT_EQ(Text(Control(idEdtCurrent)), "30") << "a set does not read back";
  EXPECT_EQ(Text(Control(idLblErrorMessage)), "");

  Click(idBtnRefresh);
  ASSERT_TRUE(WaitFor([&] { return Text(Control(idEdtCurrent)) == "240"; })) << Text(Control(idEdtCurrent));
  ASSERT_TRUE(WaitFor([&] { return Enabled(idBtnExit); }));

  std::vector<std::string> expected = {
      "out 00 a1 00 10 20 a1 00 10 20", // read after Connect
      "in  00 1e 00 00 00 00 00 00 00",
      "in  00 00 00 00 00 00 00 00 00",
      "in  00 00 00 00 00 00 00 00 00",
      "in  00 00 00 00 00 00 00 00 00",
      "out 00 a2 00 10 20 a2 f0 00 20", // Set 240
      "in  00 a5 a5 a5 a5 a5 a5 a5 a5",
      "out 00 a2 00 1a 20 a2 aa 00 20", // the flag
      "in  00 a5 a5 a5 a5 a5 a5 a5 a5",
      "out 00 a1 00 10 20 a1 00 10 20", // Read
      "in  00 f0 00 00 00 00 00 00 00",
  };
  auto lines = LogLines();
  ASSERT_GE(lines.size(), expected.size() + 3);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(lines[i], expected[i]) << "line " << i;

  Click(idBtnExit);
  ASSERT_EQ(WaitForSingleObject(Process.hProcess, tidewell_test::ScaledMs(30000)), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(Process.hProcess, &code);
  EXPECT_EQ(code, 0u);
}

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    fprintf(stderr, "usage: %s PATH-TO-TidewellSim.exe\n", argv[0]);
    return 2;
  }
  ExePath = WindowsPath(argv[1]);
  return RUN_ALL_TESTS();
}
