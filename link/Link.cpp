#include "link/Link.h"

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
    }
    return {};
}

} // namespace hx
