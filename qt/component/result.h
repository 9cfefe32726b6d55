#pragma once
// Result codes shared by the library exports, the class factory and the dispatch entry point,
// and the small Status / Result types that carry a code with its message.
#include <optional>
#include <string>
#include <utility>

namespace ubin::component {

// Every call across the component boundary returns one of these. Zero and above is success.
enum ResultCode : int {
    kOk = 0,                        // done
    kFalse = 1,                     // success, answer "no" (DllCanUnloadNow: instances remain)
    kErrorFailed = -1,              // failure the other codes do not name; the message says why
    kErrorClassNotAvailable = -2,   // the library does not serve that class identifier
    kErrorRegistry = -3,            // the class registry cannot be read or written
    kErrorNotRegistered = -4,       // no class of that program or class identifier is registered
    kErrorLibrary = -5,             // the library cannot be loaded or lacks one of the four exports
    kErrorMemberNotFound = -6,      // no member with that member id
    kErrorNotSupported = -7,        // the member exists but not as that kind (e.g. let of a read-only property)
    kErrorArgumentCount = -8,       // wrong number of arguments
    kErrorTypeMismatch = -9,        // a value cannot be converted to the type required
    kErrorInMember = -10,           // the member itself failed (the control's own error)
    kErrorBadFile = -11,            // a registry, property or saved-form file is damaged
    kErrorInvalidArgument = -12,    // a null pointer or empty name where one is required
};

inline constexpr bool Succeeded(int code) { return code >= 0; }

// The name of a code, for messages ("kErrorMemberNotFound" -> "member not found").
const char* ResultCodeText(int code);

class Status {
public:
    Status() = default;
    Status(int code, std::string message) : code_(code), message_(std::move(message)) {}
    static Status Ok() { return {}; }

    bool ok() const { return Succeeded(code_); }
    int code() const { return code_; }
    const std::string& message() const { return message_; }
    // "message (code text)" or just the code text when there is no message.
    std::string ToString() const;

private:
    int code_ = kOk;
    std::string message_;
};

// A value on success, a failed Status otherwise.
template <class T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status status) : status_(std::move(status))
    {
        if (status_.ok()) status_ = Status(kErrorFailed, "no value");
    }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const Status& status() const { return status_; }
    int code() const { return status_.code(); }
    const std::string& message() const { return status_.message(); }

    T& value() & { return *value_; }
    const T& value() const& { return *value_; }
    T&& value() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }

private:
    std::optional<T> value_;
    Status status_;
};

} // namespace ubin::component
