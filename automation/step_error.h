// A failed step: the number, source and description that a VB client's Err
// object would hold. Everything below the methods raises these: the object
// layer, the support routines and the frame.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace quorvel {

struct StepError : std::exception {
    StepError(std::int32_t number_, std::u16string source_, std::u16string description_, std::string detail_ = {})
        : number(number_), source(std::move(source_)), description(std::move(description_)),
          detail(std::move(detail_)) {}
    const char* what() const noexcept override { return "step failed"; }

    std::int32_t number;
    std::u16string source;
    std::u16string description;
    // Why, in English, for a tool's message (which library, which key); not
    // part of what a client sees.
    std::string detail;
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
    kNoSuchMember = 438,
    kNoNamedArguments = 446,
    kNamedArgumentNotFound = 448,
    kWrongArgumentCount = 450,
};

// The source a client sees for run-time errors that carry none of their
// own: the project's name.
inline constexpr char16_t kRuntimeSource[] = u"Quorvel";

// The error a step raises for a run-time error number, with the source and
// Chinese description a client sees.
[[noreturn]] void Raise(RuntimeError number);
StepError RuntimeStepError(RuntimeError number);

// A failed COM call as a VB client reports it: the HRESULTs that VB turns
// into its own numbers (DISP_E_TYPEMISMATCH is 13, DISP_E_UNKNOWNNAME 438,
// an error 0x800A00nn raised by a VB-style server is nn, ...) become those,
// any other stays the signed HRESULT with the system's Chinese message, or
// "自动化错误" for one without a known message. The source is the project's.
StepError ErrorFromHresult(std::int32_t hr);

// The HRESULT a server returns for a step error: VB numbers below 0x10000
// travel as 0x800A0000 | number, as a VB-built server raises them.
std::int32_t HresultOf(const StepError& error);

// Signed 32-bit products, checked: an overflow raises error 6.
std::int32_t CheckedMultiply(std::int32_t a, std::int32_t b);

}  // namespace quorvel
