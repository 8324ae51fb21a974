#include "ostrak/error.hpp"

#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

namespace ostrak {

OstrakError::OstrakError(std::string message) : m_message(std::move(message)) {}

const std::string& OstrakError::message() const noexcept {
    return m_message;
}

const char* OstrakError::what() const noexcept {
    return m_message.c_str();
}

std::string systemErrorText(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "没有访问权限";
        case ENOENT:
            return "文件或目录不存在";
        case ENOTDIR:
            return "路径中有一项不是目录";
        case EISDIR:
            return "这是一个目录，不是文件";
        case ENOSPC:
            return "磁盘空间不足";
        case EDQUOT:
            return "超出磁盘配额";
        case EROFS:
            return "磁盘是只读的";
        case EIO:
            return "读写出错，磁盘可能已断开或损坏";
        case ENXIO:
        case ENODEV:
            return "设备不存在或已断开";
        case ENAMETOOLONG:
            return "名称过长";
        case ELOOP:
            return "路径经过符号链接，或链接层数过多";
        case EMLINK:
            return "链接数过多";
        case EEXIST:
            return "目标已存在";
        case ENOTEMPTY:
            return "目录不为空";
        case EBUSY:
        case ETXTBSY:
            return "正被占用";
        case EMFILE:
        case ENFILE:
            return "打开的文件过多";
        case EFBIG:
            return "文件超出允许的大小";
        case EXDEV:
            return "不能跨磁盘移动";
        case ENOMEM:
            return "内存不足";
        default:
            return "系统错误（错误码 " + std::to_string(error) + "）";
    }
}

std::string describeFailure(const std::exception& failure) {
    if (const auto* own = dynamic_cast<const OstrakError*>(&failure)) return own->message();
    if (const auto* system = dynamic_cast<const std::system_error*>(&failure)) {
        const auto& category = system->code().category();
        if (category == std::generic_category() || category == std::system_category()) {
            return systemErrorText(system->code().value()) + "。";
        }
    }
    if (dynamic_cast<const std::bad_alloc*>(&failure)) return "内存不足。";
    return failure.what();
}

}  // namespace ostrak
