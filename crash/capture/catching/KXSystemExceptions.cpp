#include "crash/capture/catching/KXSystemExceptions.h"

#include <cstdio>

namespace kx {

std::string DollarHex(std::uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "$%llx", static_cast<unsigned long long>(value));
  return buf;
}

std::string SystemExceptionMessage(uint32_t code, std::uint64_t exceptAddr, bool write, std::uint64_t accessed,
                                   const std::optional<KXFaultModule> &module) {
  switch (code) {
  case 0xC0000005:
    if (!module)
      return "Access Violation";
    return "Access violation at address " + DollarHex(exceptAddr) + " in module '" + module->fileName + "'. " +
           (write ? "Write" : "Read") + " of address " + DollarHex(accessed);
  case 0xC000008C:
    return "Range check error";
  case 0xC000008D:
  case 0xC0000093:
    return "Floating point underflow";
  case 0xC000008E:
    return "Floating point division by zero";
  case 0xC000008F:
  case 0xC0000090:
  case 0xC0000092:
    return "Invalid floating point operation";
  case 0xC0000091:
    return "Floating point overflow";
  case 0xC0000094:
    return "Division by zero";
  case 0xC0000095:
    return "Integer overflow";
  case 0xC0000096:
    return "Privileged instruction";
  case 0xC00000FD:
    return "Stack overflow";
  case 0xC000013A:
    return "Control-C hit";
  default: {
    char buf[40];
    std::snprintf(buf, sizeof buf, "External exception %X", code);
    return buf;
  }
  }
}

KXFaultClass FaultClassOf(uint32_t code) {
  switch (code) {
  case 0xC0000005:
    return KXFaultClass::accessViolation;
  case 0xC00000FD:
    return KXFaultClass::stackOverflow;
  case 0xC0000096:
    return KXFaultClass::privilege;
  case 0xC000013A:
    return KXFaultClass::controlC;
  case 0xC0000094:
    return KXFaultClass::divByZero;
  case 0xC000008C:
    return KXFaultClass::rangeError;
  case 0xC0000095:
    return KXFaultClass::intOverflow;
  case 0xC000008F:
  case 0xC0000090:
  case 0xC0000092:
    return KXFaultClass::invalidOp;
  case 0xC000008E:
    return KXFaultClass::zeroDivide;
  case 0xC0000091:
    return KXFaultClass::overflow;
  case 0xC000008D:
  case 0xC0000093:
    return KXFaultClass::underflow;
  default:
    return KXFaultClass::external;
  }
}

} // namespace kx
