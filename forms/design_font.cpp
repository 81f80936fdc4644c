#include "forms/design_font.h"

#include <QFont>
#include <QWidget>

void SetDesignFont(QWidget* window) {
    QFont designFont = window->font();
    designFont.setPixelSize(12);
    window->setFont(designFont);
}
