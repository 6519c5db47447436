#include "ui/FailureText.h"

#include <cerrno>

namespace hx {

std::string failureText(const CallFailure& failure) {
    switch (failure.kind) {
    case LinkFailure::Timeout:
        return "仪表无应答 (超时)";
    case LinkFailure::Framing:
        return "应答校验错或格式错";
    case LinkFailure::Exception:
        return "仪表异常应答 " + std::to_string(failure.exceptionCode);
    case LinkFailure::Refused:
        return "未发送: 端口未打开或参数无效";
    case LinkFailure::Io:
        return "串口设备错误";
    case LinkFailure::BackOff:
        return "未发送: 仪表无应答, 等待下次探测";
    case LinkFailure::Connection:
        return connectionErrorText(failure.systemError);
    }
    return {};
}

std::string connectionErrorText(int systemError) {
    switch (systemError) {
    case ECONNREFUSED:
        return "网关拒绝连接";
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
        return "网关不可达";
    case ETIMEDOUT:
        return "网关连接超时";
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
    case ENOTCONN:
        return "网关断开了连接";
    default:
        return "网关连接失败 (错误码 " + std::to_string(systemError) + ")";
    }
}

std::string openErrorText(const PortStatus& status) {
    switch (status.cause) {
    case OpenError::None:
        return {};
    case OpenError::NoDevice:
        return "设备不存在";
    case OpenError::NoPermission:
        return "无权限 (请将用户加入 dialout 组)";
    case OpenError::Busy:
        return "端口被另一个程序占用";
    case OpenError::BadSetting:
        return "波特率或校验设置无效";
    case OpenError::BadAddress:
        return "网关地址无效 (应为 tcp://主机:端口)";
    case OpenError::UnknownHost:
        return "网关主机名无法解析";
    case OpenError::Connection:
        return connectionErrorText(status.errnoValue);
    case OpenError::Other:
        break;
    }
    return status.errnoValue != 0 ? "设备无法使用 (错误码 " + std::to_string(status.errnoValue) + ")"
                                  : "设备无法使用";
}

QString writeReasonText(const WriteFailure& failure) {
    switch (failure.refusal) {
    case WriteRefusal::None:
        break;
    case WriteRefusal::NotANumber:
        return QStringLiteral("未写入: 不是数字或超出范围");
    case WriteRefusal::OutOfRange:
        return QStringLiteral("未写入: %1 超出寄存器范围 %2..%3")
            .arg(failure.value)
            .arg(kRegisterValueMin)
            .arg(kRegisterValueMax);
    }
    return QString::fromStdString(failureText(failure.cause));
}

QString writeFailureText(const WriteFailure& failure) {
    return QStringLiteral("寄存器 %1: %2").arg(failure.reg).arg(writeReasonText(failure));
}

} // namespace hx
