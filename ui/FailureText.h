#pragma once
// What the operator reads about a failure: the link reports causes (link/Link, link/
// OperatorWrite), and the screen words them here, in Chinese, for the status line, the tooltip
// of a field whose write failed and the event journal.
#include "link/Link.h"
#include "link/OperatorWrite.h"

#include <QString>

#include <string>

namespace hx {

// Why a call failed, in a few words.
std::string failureText(const CallFailure& failure);
// Why a gateway connection failed, from the system's error number.
std::string connectionErrorText(int systemError);
// Why the port could not be opened; empty after a good open.
std::string openErrorText(const PortStatus& status);

// Why an operator's write failed, as the field that holds it tells: "仪表无应答 (超时)".
QString writeReasonText(const WriteFailure& failure);
// The same with its register, for the status line and the journal: "寄存器 4106: 仪表无应答 (超时)".
QString writeFailureText(const WriteFailure& failure);

} // namespace hx
