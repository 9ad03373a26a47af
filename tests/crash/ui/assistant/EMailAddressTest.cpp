// The address check of the contact form.
#include <gtest/gtest.h>

#include "crash/ui/assistant/EMailAddress.h"

namespace kx::test {
namespace {

TEST(EMailAddress, ValidShapes) {
  for (const char *address : {"ann@example.com", "Ann.Lee@mail.example.org", "a..b@example.com", "x@y.z",
                              "o'neil+tag_1-2@example.co.uk", "9@9.9"})
    EXPECT_TRUE(ValidEMailAddress(address)) << address;
}

TEST(EMailAddress, InvalidShapes) {
  for (const char *address : {"", "@example.com", "ann@example", "ann@.example.com", ".ann@example.com",
                              "ann@example.com.", "ann lee@example.com", "ann@exa@mple.com", " ann@example.com",
                              "ann@example.com ", "ann@example.com\r\n", "annexample.com", "ann@", "@", "ann@@x.com",
                              "ann(at)@example.com", "ann@exämple.com", "a.b.c"})
    EXPECT_FALSE(ValidEMailAddress(address)) << '"' << address << '"';
}

} // namespace
} // namespace kx::test
