#pragma once

#include <QByteArray>

namespace robotsim {

// One JPEG picture of a moving test pattern with the frame number drawn on it.
QByteArray renderTestFrame(quint32 frameNumber, int quality = 70);

}  // namespace robotsim
