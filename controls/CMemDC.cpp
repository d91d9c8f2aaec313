// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CMemDC.h"

#include <QPaintDevice>

CMemDC::CMemDC(QPaintDevice* pTarget, const QRect& rcClipBox)
    : m_painter(pTarget), m_nBitsPerPixel(pTarget->depth()) {
    m_painter.setClipRect(rcClipBox);
}
