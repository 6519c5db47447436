#include "link/Link.h"

#include <cerrno>

namespace hx {

int32_t baudOfChoice(int32_t choice) {
    switch (choice) {
    case 0:
        return 4800;
    case 1:
        return 9600;
    case 2:
        return 19200;
    default:
        return 0;
    }
}

std::string failureText(const CallFailure& failure, TextLanguage language) {
    const bool chinese = language == TextLanguage::Chinese;
    switch (failure.kind) {
    case LinkFailure::Timeout:
        return chinese ? "仪表无应答 (超时)" : "no answer (timeout)";
    case LinkFailure::Framing:
        return chinese ? "应答校验错或格式错" : "bad answer (CRC or framing)";
    case LinkFailure::Exception:
        return chinese ? "仪表异常应答 " + std::to_string(failure.exceptionCode)
                       : "exception " + std::to_string(failure.exceptionCode) + " from the instrument";
    case LinkFailure::Refused:
        return chinese ? "未发送: 端口未打开或参数无效" : "not sent (port not open or bad value)";
    case LinkFailure::Io:
        return chinese ? "串口设备错误" : "serial device error";
    case LinkFailure::BackOff:
        return chinese ? "未发送: 仪表无应答, 等待下次探测" : "not sent (instrument silent)";
    case LinkFailure::Connection:
        return chinese ? connectionErrorText(failure.systemError)
                       : "gateway connection failed (error " + std::to_string(failure.systemError) + ")";
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

} // namespace hx
