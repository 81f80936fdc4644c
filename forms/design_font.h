#pragma once
// The windows' design font.

class QWidget;

// Gives `window` the font its layout was designed in: the layouts store 9 points, the design is
// 12 pixels whatever the screen's resolution. Call it after the layout is set up.
void SetDesignFont(QWidget* window);
