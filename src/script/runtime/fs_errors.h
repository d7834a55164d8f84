// Errors of the script runtime. Every failure inside the runtime is an EScriptError that
// carries the documented message and the class name scripts see in ExceptionClassName.
#pragma once

#include <exception>
#include <string>

namespace pt {

class EScriptError : public std::exception {
public:
    EScriptError(std::string className, std::string message)
        : className_(std::move(className)), message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& className() const noexcept { return className_; }
    const std::string& message() const noexcept { return message_; }

private:
    std::string className_;
    std::string message_;
};

// The class names scripts see.
inline constexpr const char* kEVariantTypeCastError = "EVariantTypeCastError";
inline constexpr const char* kEVariantOverflowError = "EVariantOverflowError";
inline constexpr const char* kEVariantInvalidOpError = "EVariantInvalidOpError";
inline constexpr const char* kEVariantBadIndexError = "EVariantBadIndexError";
inline constexpr const char* kEVariantInvalidArgError = "EVariantInvalidArgError";
inline constexpr const char* kEDivByZero = "EDivByZero";
inline constexpr const char* kEZeroDivide = "EZeroDivide";
inline constexpr const char* kEConvertError = "EConvertError";
inline constexpr const char* kException = "Exception";

[[noreturn]] inline void RaiseError(const char* className, std::string message) {
    throw EScriptError(className, std::move(message));
}
// A plain script-level error ("Exception").
[[noreturn]] inline void RaiseError(std::string message) {
    throw EScriptError(kException, std::move(message));
}

} // namespace pt
