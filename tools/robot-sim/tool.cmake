# The simulator paints and encodes its video frames with Qt Gui (QImage, QPainter, qjpeg).
find_package(Qt6 REQUIRED COMPONENTS Gui)
target_link_libraries(${name} PRIVATE Qt6::Gui)
