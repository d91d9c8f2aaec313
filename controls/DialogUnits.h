// SPDX-License-Identifier: GPL-3.0-or-later

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

    // A width in pixels meant for the classic 8-point dialog font (6 pixels
    // to 4 x units) turned into pixels of this font, by the same factor as
    // the x units, so that what fitted then fits now.
    int ScaleX(int nClassicPixels) const {
        return (nClassicPixels * m_nBaseX + kClassicBaseX / 2) / kClassicBaseX;
    }

    static constexpr int kClassicBaseX = 6;

private:
    int m_nBaseX;
    int m_nBaseY;
};
