#pragma once

#include <QIcon>

namespace rovalink::ui {

// The program's icon (main window, video window and tray), drawn so no image file is needed.
QIcon appIcon();

}  // namespace rovalink::ui
