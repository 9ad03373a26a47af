#pragma once
// What a system exception (a processor or operating-system fault) becomes: its message, and the
// exception class that stands for it where a fault is turned into an exception object.
#include <cstdint>
#include <optional>
#include <string>

namespace kx {

// "$" and lower-case hexadecimal without leading zeros.
std::string DollarHex(std::uint64_t value);

// The module that holds a faulting address, when the address lies in committed memory of an image
// with a file name.
struct KXFaultModule {
  std::string fileName; // without directory
};

// The message of a system exception by its code. For an access violation, write tells a write
// from a read and accessed is the address that was accessed.
std::string SystemExceptionMessage(uint32_t code, std::uint64_t exceptAddr, bool write, std::uint64_t accessed,
                                   const std::optional<KXFaultModule> &module);

// The exception classes faults are mapped onto.
enum class KXFaultClass {
  accessViolation,   // EAccessViolation
  stackOverflow,     // EStackOverflow
  privilege,         // EPrivilege
  controlC,          // EControlC
  divByZero,         // EDivByZero
  rangeError,        // ERangeError
  intOverflow,       // EIntOverflow
  invalidOp,         // EInvalidOp
  zeroDivide,        // EZeroDivide
  overflow,          // EOverflow
  underflow,         // EUnderflow
  external           // EExternalException
};
KXFaultClass FaultClassOf(uint32_t code);

// The code of the platform's thread-naming exception.
inline constexpr uint32_t kThreadNamingCode = 0x406D1388;

} // namespace kx
