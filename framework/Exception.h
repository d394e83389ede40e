#pragma once

#include <exception>
#include <string>

// Every failure in the framework and the readers is an exception carrying a user-facing message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

class EStreamError : public Exception {
    using Exception::Exception;
};

// A checked read that got fewer bytes than asked for.
class EReadError : public EStreamError {
public:
    EReadError() : EStreamError("Stream read error") {}
};

// A checked write that the stream did not take completely.
class EWriteError : public EStreamError {
public:
    EWriteError() : EStreamError("Stream write error") {}
};

class EFOpenError : public EStreamError {
public:
    explicit EFOpenError(const std::string& fileName) : EStreamError("Cannot open file " + fileName) {}
};

class EFCreateError : public EStreamError {
public:
    explicit EFCreateError(const std::string& fileName) : EStreamError("Cannot create file " + fileName) {}
};

// Raised by the picture container for a file extension that no graphic class is registered for.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
    static EInvalidGraphic UnknownExtension(const std::string& extension)
    {
        return EInvalidGraphic("未知的图象文件扩展名 (." + extension + ")");
    }
};

// Text that should have been a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
    static EConvertError InvalidInteger(const std::string& text)
    {
        return EConvertError("'" + text + "' is not a valid integer value");
    }
};

// A bitmap that cannot be made: too large for the framework's cap, or memory exhausted.
class EOutOfResources : public Exception {
    using Exception::Exception;
};

// Converts a decimal text to an integer the way the framework's StrToInt does: optional sign, digits,
// nothing else; anything else raises EConvertError with the text.
int StrToInt(const std::string& text);
