// The messages and classes of system exceptions.
#include <gtest/gtest.h>

#include "crash/capture/catching/KXSystemExceptions.h"

namespace kx {

TEST(SystemExceptions, AccessViolationNamesModuleOperationAndAddresses) {
  EXPECT_EQ(SystemExceptionMessage(0xC0000005, 0x401a2b, true, 0, KXFaultModule{"Tidewell.exe"}),
            "Access violation at address $401a2b in module 'Tidewell.exe'. Write of address $0");
  EXPECT_EQ(SystemExceptionMessage(0xC0000005, 0x401a2b, false, 0xfffffffc, KXFaultModule{"x.dll"}),
            "Access violation at address $401a2b in module 'x.dll'. Read of address $fffffffc");
  EXPECT_EQ(SystemExceptionMessage(0xC0000005, 0x1000, false, 4, std::nullopt), "Access Violation");
}

TEST(SystemExceptions, TableMessagesAndClasses) {
  struct Case {
    uint32_t code;
    const char *message;
    KXFaultClass cls;
  } cases[] = {
      {0xC000008C, "Range check error", KXFaultClass::rangeError},
      {0xC000008D, "Floating point underflow", KXFaultClass::underflow},
      {0xC0000093, "Floating point underflow", KXFaultClass::underflow},
      {0xC000008E, "Floating point division by zero", KXFaultClass::zeroDivide},
      {0xC000008F, "Invalid floating point operation", KXFaultClass::invalidOp},
      {0xC0000090, "Invalid floating point operation", KXFaultClass::invalidOp},
      {0xC0000092, "Invalid floating point operation", KXFaultClass::invalidOp},
      {0xC0000091, "Floating point overflow", KXFaultClass::overflow},
      {0xC0000094, "Division by zero", KXFaultClass::divByZero},
      {0xC0000095, "Integer overflow", KXFaultClass::intOverflow},
      {0xC0000096, "Privileged instruction", KXFaultClass::privilege},
      {0xC00000FD, "Stack overflow", KXFaultClass::stackOverflow},
      {0xC000013A, "Control-C hit", KXFaultClass::controlC},
      {0xE0001234, "External exception E0001234", KXFaultClass::external},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(SystemExceptionMessage(c.code, 0, false, 0, std::nullopt), c.message) << std::hex << c.code;
    EXPECT_EQ(FaultClassOf(c.code), c.cls) << std::hex << c.code;
  }
  EXPECT_EQ(DollarHex(0), "$0");
  EXPECT_EQ(DollarHex(0xABCDEF), "$abcdef");
}

} // namespace kx
