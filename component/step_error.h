// A failed step of a method: the number, source and description that a VB
// client's Err object would hold.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace quorvel {

struct StepError : std::exception {
    StepError(std::int32_t number_, std::u16string source_, std::u16string description_)
        : number(number_), source(std::move(source_)), description(std::move(description_)) {}
    const char* what() const noexcept override { return "step failed"; }

    std::int32_t number;
    std::u16string source;
    std::u16string description;
};

// Run-time error numbers raised by the component's own steps.
enum RuntimeError : std::int32_t {
    kInvalidCall = 5,
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kTypeMismatch = 13,
    kInternalError = 51,
    kBadFileNumber = 52,
    kFileNotFound = 53,
    kDeviceIo = 57,
    kDiskFull = 61,
    kTooManyFiles = 67,
    kPermissionDenied = 70,
    kPathFileAccess = 75,
    kPathNotFound = 76,
    kObjectNotSet = 91,
    kCannotCreateObject = 429,
};

// The error a step raises for a run-time error number, with the source and
// Chinese description a client sees.
[[noreturn]] void Raise(RuntimeError number);
StepError RuntimeStepError(RuntimeError number);

// Signed 32-bit products, checked: an overflow raises error 6.
std::int32_t CheckedMultiply(std::int32_t a, std::int32_t b);

}  // namespace quorvel
