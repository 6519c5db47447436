#pragma once
#include <QPixmap>

namespace hx {

// The start-up picture: a stylised instrument front with a trend, drawn by the program.
QPixmap splashPicture(const QSize& size);

} // namespace hx
