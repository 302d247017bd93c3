#include "component/step_error.h"

namespace quorvel {
namespace {

// The source a client sees for the component's own run-time errors: the
// project's name.
constexpr char16_t kRuntimeSource[] = u"Quorvel";

const char16_t* Description(RuntimeError number) {
    switch (number) {
        case kInvalidCall: return u"无效的过程调用或参数";
        case kOverflow: return u"溢出";
        case kOutOfMemory: return u"内存溢出";
        case kSubscriptOutOfRange: return u"下标越界";
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
    }
    return u"应用程序定义的错误或对象定义的错误";
}

}  // namespace

StepError RuntimeStepError(RuntimeError number) {
    return StepError(number, kRuntimeSource, Description(number));
}

void Raise(RuntimeError number) { throw RuntimeStepError(number); }

std::int32_t CheckedMultiply(std::int32_t a, std::int32_t b) {
    std::int32_t product = 0;
    if (__builtin_mul_overflow(a, b, &product)) Raise(kOverflow);
    return product;
}

}  // namespace quorvel
