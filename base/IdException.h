// Root object class and the root of the exception tree shared by every layer.
#pragma once

#include <stdexcept>
#include <string>

namespace ftpc {

// Root of the class hierarchy. ClassName() names the most derived class, for messages
// that show it.
class TObject {
public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
  virtual std::string ClassName() const { return "TObject"; }
};

// Root of every exception the library raises; carries the message text from the one table.
class EIdException : public std::runtime_error {
public:
  explicit EIdException(const std::string& AMessage) : std::runtime_error(AMessage) {}
  std::string Message() const { return what(); }
  virtual std::string ClassName() const { return "EIdException"; }
};

// Declares an exception class that adds nothing but its name to its base.
#define FTPC_DECLARE_EXCEPTION(Name, Base)                                                         \
  class Name : public Base {                                                                       \
  public:                                                                                          \
    using Base::Base;                                                                              \
    std::string ClassName() const override { return #Name; }                                      \
  }

// Raised by the foundation helpers (conversions, positions, time zone).
FTPC_DECLARE_EXCEPTION(EIdConvertError, EIdException);
// A value outside the range its destination can hold (message RSRangeCheckError).
FTPC_DECLARE_EXCEPTION(EIdRangeError, EIdException);
FTPC_DECLARE_EXCEPTION(EIdFailedToRetreiveTimeZoneInfo, EIdException);

} // namespace ftpc
