// The names of the per-process temporary folders: what a process writes, a later start reads
// back, and no other folder of the temporary path passes for one of them.
#include <gtest/gtest.h>

#include "crash/capture/exception/KXTempFolderName.h"

namespace kx {
namespace {

TEST(TempFolderName, CarriesTheProcessAndEightRandomDigits) {
  EXPECT_EQ(TempFolderName(u"Tidewell", 4242, 0x00c0ffeeu), u"Tidewell.Kestrelix.4242-00c0ffee");
  EXPECT_EQ(TempFolderName(u"a", 0, 0xFFFFFFFFu), u"a.Kestrelix.0-ffffffff");
  EXPECT_EQ(TempFolderPattern(u"Tidewell"), u"Tidewell.Kestrelix.*");
  for (uint32_t id : {0u, 8u, 1234u, 4294967292u})
    EXPECT_EQ(TempFolderProcess(TempFolderName(u"TidewellSim", id, 0x12345678u), u"TidewellSim"), id);
  EXPECT_EQ(TempFolderProcess(u"TIDEWELL.Kestrelix.77-abcdef01", u"Tidewell"), 77u) << "exe names ignore case";
}

TEST(TempFolderName, AnythingElseIsNoFolderOfTheExe) {
  for (const char16_t *name : {
           u"Tidewell.Kestrelix",                   // the old shared folder
           u"Tidewell.Kestrelix.",                  //
           u"Tidewell.Kestrelix.12",                // no random part
           u"Tidewell.Kestrelix.12-0000abc",        // seven digits
           u"Tidewell.Kestrelix.12-0000abcde",      // nine digits
           u"Tidewell.Kestrelix.12-0000ABCD",       // not as written
           u"Tidewell.Kestrelix.-0000abcd",         // no process
           u"Tidewell.Kestrelix.012-0000abcd",      // a leading zero
           u"Tidewell.Kestrelix.1x2-0000abcd",      //
           u"Tidewell.Kestrelix.4294967296-0000abcd", // beyond 32 bits
           u"Tidewell.Kestrelix.99999999999-0000abcd",
           u"TidewellSim.Kestrelix.12-0000abcd",    // another exe that starts alike
           u"Tide.Kestrelix.12-0000abcd",
           u"Tidewell.Other.12-0000abcd",
       })
    EXPECT_EQ(TempFolderProcess(name, u"Tidewell"), std::nullopt) << std::string(name, name + std::char_traits<char16_t>::length(name));
}

} // namespace
} // namespace kx
