// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QPainter>
#include <QRect>

class QPaintDevice;

// The drawing surface of one paint. Qt paints a widget into its window's
// back buffer and shows the finished picture in one copy, so this needs no
// bitmap of its own: it owns the painter for the paint, limited to the area
// being painted, and ends it when it goes.
class CMemDC {
public:
    CMemDC(QPaintDevice* pTarget, const QRect& rcClipBox);
    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    QPainter& Painter() { return m_painter; }
    // Colour depth of the target; below 8 a colour ramp is drawn flat.
    int BitsPerPixel() const { return m_nBitsPerPixel; }

private:
    QPainter m_painter;
    int m_nBitsPerPixel;
};
