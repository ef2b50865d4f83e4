#pragma once
// Exception classes that tell their own name, so that log lines and error reports quote the
// system's class names ("ESxStreamError") instead of the compiler's mangled type names.
#include <exception>
#include <string>
#include <typeinfo>

class TSxNamedException {
public:
    virtual ~TSxNamedException() = default;
    virtual const char* ClassName() const noexcept = 0;
};

// Declares an exception class of the system derived from Base (std::runtime_error or another
// system class) that answers Name.
#define SX_DECLARE_EXCEPTION(Name, Base)                                                      \
    class Name : public Base, public virtual TSxNamedException {                              \
    public:                                                                                   \
        using SxBase = Base;                                                                  \
        using SxBase::SxBase;                                                                 \
        const char* ClassName() const noexcept override { return #Name; }                     \
    }

// For exception classes that do not derive from TSxNamedException (kept by other units):
// the exact dynamic type is mapped to the name given.
void RegisterExceptionClassName(const std::type_info& type, const std::string& name);

// The system's name of the exception's class: its own ClassName(), a registered name, the
// standard library's name ("std::runtime_error", ...) or "Exception".
std::string ExceptionClassName(const std::exception& e);
