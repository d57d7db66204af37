#pragma once

#include <stdexcept>
#include <string>

namespace velmar {

// The program's errors carry the class name that failure reports and boxes quote.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    virtual const char* ClassName() const { return "Exception"; }
};

#define VELMAR_ERROR_KIND(Name)                                  \
    class Name : public Exception {                              \
      public:                                                    \
        using Exception::Exception;                              \
        const char* ClassName() const override { return #Name; } \
    }

VELMAR_ERROR_KIND(EConvertError);
VELMAR_ERROR_KIND(ESocketError);
VELMAR_ERROR_KIND(EXMLDocError);
VELMAR_ERROR_KIND(EDOMParseError);
VELMAR_ERROR_KIND(EOleException);
VELMAR_ERROR_KIND(ERichEditError);
VELMAR_ERROR_KIND(EInvalidOperation);

#undef VELMAR_ERROR_KIND

// A file error: the message follows the system error code.
class EInOutError : public Exception {
  public:
    explicit EInOutError(int code) : Exception(FileErrorText(code)), code_(code) {}
    const char* ClassName() const override { return "EInOutError"; }
    int Code() const { return code_; }
    // Maps an errno value to the file error code of the messages; an errno without a code of
    // its own becomes kOtherErrnoBase + errno, which reads "I/O error %d".
    static constexpr int kOtherErrnoBase = 1000;
    static EInOutError FromErrno(int err);
    static std::string FileErrorText(int code);

  private:
    int code_;
};

// The class name of any caught error, for reports.
const char* ClassNameOf(const std::exception& e);

}  // namespace velmar
