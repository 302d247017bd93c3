#include "automation/step_error.h"

namespace quorvel {
namespace {

const char16_t* Description(std::int32_t number) {
    switch (number) {
        case kInvalidCall: return u"无效的过程调用或参数";
        case kOverflow: return u"溢出";
        case kOutOfMemory: return u"内存溢出";
        case kSubscriptOutOfRange: return u"下标越界";
        case 11: return u"除数为零";
        case kTypeMismatch: return u"类型不匹配";
        case kInternalError: return u"内部错误";
        case kBadFileNumber: return u"错误的文件名或号码";
        case kFileNotFound: return u"文件未找到";
        case kDeviceIo: return u"设备 I/O 错误";
        case kDiskFull: return u"磁盘已满";
        case kTooManyFiles: return u"文件过多";
        case kPermissionDenied: return u"没有权限";
        case kPathFileAccess: return u"路径/文件访问错误";
        case kPathNotFound: return u"路径未找到";
        case kObjectNotSet: return u"对象变量或 With 块变量未设置";
        case kCannotCreateObject: return u"ActiveX 部件不能创建对象";
        case kNoSuchMember: return u"对象不支持该属性或方法";
        case 445: return u"对象不支持此操作";
        case kNoNamedArguments: return u"对象不支持命名参数";
        case kNamedArgumentNotFound: return u"找不到命名参数";
        case kWrongArgumentCount: return u"错误的参数个数或无效的参数属性值";
    }
    return nullptr;
}

constexpr std::int32_t Hr(std::uint32_t value) { return static_cast<std::int32_t>(value); }

// HRESULTs that VB reports under its own numbers.
std::int32_t VbNumberOf(std::int32_t hr) {
    if ((static_cast<std::uint32_t>(hr) & 0xFFFF0000u) == 0x800A0000u) return hr & 0xFFFF;
    switch (static_cast<std::uint32_t>(hr)) {
        case 0x8007000Eu: return kOutOfMemory;         // E_OUTOFMEMORY
        case 0x80070057u: return kInvalidCall;         // E_INVALIDARG
        case 0x80004001u: return 445;                  // E_NOTIMPL
        case 0x80020003u:                              // DISP_E_MEMBERNOTFOUND
        case 0x80020006u: return kNoSuchMember;        // DISP_E_UNKNOWNNAME
        case 0x80020005u: return kTypeMismatch;        // DISP_E_TYPEMISMATCH
        case 0x8002000Au: return kOverflow;            // DISP_E_OVERFLOW
        case 0x8002000Bu: return kSubscriptOutOfRange; // DISP_E_BADINDEX
        case 0x80020012u: return 11;                   // DISP_E_DIVBYZERO
        case 0x80020007u: return kNoNamedArguments;    // DISP_E_NONAMEDARGS
        case 0x80020004u: return kNamedArgumentNotFound;  // DISP_E_PARAMNOTFOUND
        case 0x8002000Eu:                              // DISP_E_BADPARAMCOUNT
        case 0x8002000Fu: return kWrongArgumentCount;  // DISP_E_PARAMNOTOPTIONAL
        default: return 0;
    }
}

// The system's messages (Simplified Chinese) for the failures the object
// layer and the directory providers give.
const char16_t* SystemMessage(std::uint32_t hr) {
    switch (hr) {
        case 0x80004005u: return u"未指定的错误";
        case 0x80004002u: return u"不支持此接口";
        case 0x80004003u: return u"无效指针";
        case 0x8000FFFFu: return u"灾难性故障";
        case 0x80070002u: return u"系统找不到指定的文件。";
        case 0x80070003u: return u"系统找不到指定的路径。";
        case 0x80070005u: return u"拒绝访问。";
        case 0x800700B7u: return u"当文件已存在时，无法创建该文件。";
        case 0x8007007Eu: return u"找不到指定的模块。";
        case 0x80070520u: return u"指定的登录会话不存在。可能已被终止。";
        case 0x80070525u: return u"指定的用户不存在。";
        case 0x80070561u: return u"指定的帐户名不是本地组的成员。";
        case 0x80070562u: return u"指定的帐户名已是本地组的成员。";
        case 0x800708C5u: return u"密码不满足密码策略的要求。";
        case 0x800708ADu: return u"找不到此用户名。";
        case 0x800708ACu: return u"找不到组名。";
        case 0x800401E4u: return u"无效的语法";
        case 0x800401E5u: return u"找不到对象";
        case 0x800401F3u: return u"无效的类字符串";
        case 0x80040154u: return u"没有注册类";
        case 0x80040111u: return u"ClassFactory 无法供应请求的类";
        case 0x8000500Du: return u"在缓存中找不到目录属性。";
        case 0x80005000u: return u"无效的 ADSI 路径名";
        case 0x80005004u: return u"在缓存中找不到 ADSI 对象。";
        default: return nullptr;
    }
}

}  // namespace

StepError RuntimeStepError(RuntimeError number) {
    const char16_t* text = Description(number);
    return StepError(number, kRuntimeSource, text != nullptr ? text : u"应用程序定义的错误或对象定义的错误");
}

void Raise(RuntimeError number) { throw RuntimeStepError(number); }

StepError ErrorFromHresult(std::int32_t hr) {
    if (const std::int32_t vb = VbNumberOf(hr); vb != 0) {
        const char16_t* text = Description(vb);
        return StepError(vb, kRuntimeSource, text != nullptr ? text : u"应用程序定义的错误或对象定义的错误");
    }
    const char16_t* text = SystemMessage(static_cast<std::uint32_t>(hr));
    return StepError(hr, kRuntimeSource, text != nullptr ? text : u"自动化错误");
}

std::int32_t HresultOf(const StepError& error) {
    if (error.number > 0 && error.number < 0x10000) return Hr(0x800A0000u | static_cast<std::uint32_t>(error.number));
    if (error.number >= 0) return Hr(0x80004005u);  // no failure code: E_FAIL
    return error.number;
}

std::int32_t CheckedMultiply(std::int32_t a, std::int32_t b) {
    std::int32_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) Raise(kOverflow);
    return product;
}

}  // namespace quorvel
