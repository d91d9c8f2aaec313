#pragma once

#include <QRect>
#include <QSize>

class QFont;

// Dialog-template units turned into pixels from the metrics of the font the
// dialog is shown in: an x unit is a quarter of the font's average character
// width, a y unit an eighth of its height.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);

    int X(int nUnits) const { return (nUnits * m_nBaseX + 2) / 4; }
    int Y(int nUnits) const { return (nUnits * m_nBaseY + 4) / 8; }
    QRect Rect(int x, int y, int cx, int cy) const { return {X(x), Y(y), X(cx), Y(cy)}; }
    QSize Size(int cx, int cy) const { return {X(cx), Y(cy)}; }

private:
    int m_nBaseX;
    int m_nBaseY;
};
