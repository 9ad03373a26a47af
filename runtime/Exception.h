#pragma once
// The exception classes of the program. Every exception the program raises derives from
// Exception; the crash reporter names them by their C++ class names (see ClassInfo.h).
#include <cstdint>
#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  ~Exception() override = default;

  const std::string &Message() const noexcept { return FMessage; }
  void SetMessage(std::string message) { FMessage = std::move(message); }
  const char *what() const noexcept override { return FMessage.c_str(); }

private:
  std::string FMessage;
};

// Silent exception: stops an operation without any report.
class EAbort : public Exception {
public:
  using Exception::Exception;
};

// Text that is not a number in the expected form.
class EConvertError : public Exception {
public:
  using Exception::Exception;
};

// A HID device or read thread that cannot be built.
class EControllerError : public Exception {
public:
  using Exception::Exception;
};

// The reporter's own exception class, used where no other class fits.
class KesException : public Exception {
public:
  using Exception::Exception;
};

// Invalid input in a data-aware edit; the reporter shows it in a simple box.
class EDBEditError : public Exception {
public:
  using Exception::Exception;
};

// System exceptions (faults raised by the processor or the operating system), mapped onto
// exception objects so that destructors run and ordinary catch blocks see them.
class EExternal : public Exception {
public:
  EExternal(std::string message, uint32_t code) : Exception(std::move(message)), FExceptionCode(code) {}
  uint32_t ExceptionCode() const noexcept { return FExceptionCode; }

private:
  uint32_t FExceptionCode;
};

#define TIDEWELL_EXTERNAL_CLASS(Name, Base)                                                        \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
  }

TIDEWELL_EXTERNAL_CLASS(EAccessViolation, EExternal);
TIDEWELL_EXTERNAL_CLASS(EStackOverflow, EExternal);
TIDEWELL_EXTERNAL_CLASS(EPrivilege, EExternal);
TIDEWELL_EXTERNAL_CLASS(EControlC, EExternal);
TIDEWELL_EXTERNAL_CLASS(EExternalException, EExternal);
TIDEWELL_EXTERNAL_CLASS(EIntError, EExternal);
TIDEWELL_EXTERNAL_CLASS(EDivByZero, EIntError);
TIDEWELL_EXTERNAL_CLASS(ERangeError, EIntError);
TIDEWELL_EXTERNAL_CLASS(EIntOverflow, EIntError);
TIDEWELL_EXTERNAL_CLASS(EMathError, EExternal);
TIDEWELL_EXTERNAL_CLASS(EInvalidOp, EMathError);
TIDEWELL_EXTERNAL_CLASS(EZeroDivide, EMathError);
TIDEWELL_EXTERNAL_CLASS(EOverflow, EMathError);
TIDEWELL_EXTERNAL_CLASS(EUnderflow, EMathError);

#undef TIDEWELL_EXTERNAL_CLASS
