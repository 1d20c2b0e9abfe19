#pragma once

#include <stdexcept>
#include <string>

namespace quillet {

// Base of every error the system raises itself; carries the message text.
class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
};

// The relay cannot be reached, or gives no readable reply; URL is the address asked for.
class EConnectError : public Exception {
public:
    explicit EConnectError(std::string url) : Exception("cannot connect to " + url), URL(std::move(url)) {}
    std::string URL;
};

// Error code 2: the authorization of the current account has expired.
class EAccountExpiredError : public Exception {
public:
    EAccountExpiredError() : Exception("") {}
};

// Error code 3: requests come too often.
class ERateLimitError : public Exception {
public:
    ERateLimitError() : Exception("") {}
};

// Silent abort: ends an operation that cannot start; no message box reports it.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
};

// A value that cannot be read as the type asked for (text as integer, a time, a boolean).
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// An assignment between objects of incompatible classes.
class EInvalidCast : public Exception {
public:
    EInvalidCast() : Exception("Invalid class typecast") {}
};

// An operation that the object's class does not provide.
class EAbstractError : public Exception {
public:
    EAbstractError() : Exception("Abstract error") {}
};

// A file that cannot be opened, read or written.
class EFileError : public Exception {
public:
    using Exception::Exception;
};

} // namespace quillet
