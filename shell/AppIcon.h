#pragma once
// The application's icon, drawn in code so the window has it without an image plugin;
// the installed desktop entry uses the same design as resources/desktop/BriskoPhotos.svg.
#include <QIcon>
#include <QImage>

class AppIcon {
public:
    static QImage draw(int size);
    // The theme's icon when installed, else the drawn one.
    static QIcon icon();
};
