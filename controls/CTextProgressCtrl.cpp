// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/CTextProgressCtrl.h"

#include "controls/CMemDC.h"

#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

QColor ColorOf(COLORREF clr) {
    return QColor(clr & 0xFF, (clr >> 8) & 0xFF, (clr >> 16) & 0xFF);
}

COLORREF ColorRefOf(const QColor& color) {
    return MakeColorRef(color.red(), color.green(), color.blue());
}

CTextProgressCtrl::CTextProgressCtrl(QWidget* pParent) : QFrame(pParent) {
    const QPalette& pal = palette();
    const COLORREF clrCaption = ColorRefOf(pal.color(QPalette::Active, QPalette::Highlight));
    m_gradientColors = {clrCaption, clrCaption};
    m_clrBackground = ColorRefOf(pal.color(QPalette::Button));
    m_clrTextOverBar = ColorRefOf(pal.color(QPalette::Active, QPalette::HighlightedText));
    m_clrTextOverBackground = ColorRefOf(pal.color(QPalette::ButtonText));
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    // Every pixel is painted here; nothing is erased first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTextProgressCtrl::SetRange(int nLower, int nUpper) {
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nPos = std::clamp(m_nPos, std::min(nLower, nUpper), std::max(nLower, nUpper));
    update();
}

void CTextProgressCtrl::ModifyStyle(uint32_t nRemove, uint32_t nAdd) {
    m_nStyle = (m_nStyle & ~nRemove) | nAdd;
}

COLORREF CTextProgressCtrl::SetBarColor(COLORREF wParam, COLORREF lParam) {
    m_gradientColors = {lParam, wParam != 0 ? wParam : lParam};
    update();
    return kDefaultColorResult;
}

COLORREF CTextProgressCtrl::SetBkColor(COLORREF clr) {
    m_clrBackground = clr;
    update();
    return kDefaultColorResult;
}

int CTextProgressCtrl::SetPos(int nPos) {
    const SnakeAnswer answer = AdvanceSnake(nPos, false);
    return answer.bHandled ? answer.nResult : DefaultSetPos(nPos);
}

int CTextProgressCtrl::DeltaPos(int nDelta) {
    const SnakeAnswer answer = AdvanceSnake(nDelta, true);
    return answer.bHandled ? answer.nResult : DefaultSetPos(int64_t(m_nPos) + nDelta);
}

int CTextProgressCtrl::StepIt() {
    const SnakeAnswer answer = AdvanceSnake(m_nStepSize, true);
    if (answer.bHandled)
        return answer.nResult;
    // A plain bar that steps past an end starts over from the other one.
    int64_t nNew = int64_t(m_nPos) + m_nStep;
    if (nNew > m_nUpper)
        nNew = m_nLower + (nNew - m_nUpper);
    else if (nNew < m_nLower)
        nNew = m_nUpper - (m_nLower - nNew);
    return DefaultSetPos(nNew);
}

int CTextProgressCtrl::SetStep(int nStep) {
    m_nStepSize = nStep;
    const int nPrevious = m_nStep;
    m_nStep = nStep;
    return nPrevious;
}

void CTextProgressCtrl::SetTextFormat(const char* pszText, uint32_t nMode) {
    if (!pszText || !*pszText || nMode == 0) {
        m_nStyle &= ~PBX_TEXT_MASK;
        m_strText.clear();
    } else {
        m_nStyle = (m_nStyle & ~PBX_TEXT_MASK) | (nMode & PBX_TEXT_MASK);
        m_strText = pszText;
    }
    update();
}

int CTextProgressCtrl::DefaultSetPos(int64_t nPos) {
    const int nPrevious = m_nPos;
    m_nPos = static_cast<int>(
        std::clamp<int64_t>(nPos, std::min(m_nLower, m_nUpper), std::max(m_nLower, m_nUpper)));
    if (m_nPos != nPrevious)
        update();
    return nPrevious;
}

CTextProgressCtrl::SnakeAnswer CTextProgressCtrl::AdvanceSnake(int nValue, bool bRelative) {
    if (!(m_nStyle & PBX_SNAKE))
        return {false, 0};
    const int64_t L = m_nLower, U = m_nUpper, nSnake = m_nSnakeSize;
    int64_t N = nValue;
    if (bRelative) {
        int64_t P = m_nPos;
        // The head waits at the far end while the tail catches up.
        if (P == U && P - m_nTailPos < nSnake)
            P = m_nTailPos + nSnake;
        N = std::abs(int64_t(nValue)) + P;
    }
    if (N > U + nSnake) {
        N = std::min(N - (U - L + nSnake), U + nSnake);
        m_nStyle ^= PBX_REVERSED;
    } else if (N >= U) {
        update(); // the position stays at U, but the tail moved
    }
    m_nTailPos = static_cast<int>(std::clamp<int64_t>(std::max(L, N - nSnake), INT_MIN, INT_MAX));
    return {true, DefaultSetPos(N)};
}

QRect CTextProgressCtrl::MapSpan(const BarPaintContext& context, BarSpan span) {
    const int W = context.nRight - context.nLeft, H = context.nBottom - context.nTop;
    const bool bReversed = context.nStyle & PBX_REVERSED;
    int x1 = context.nLeft, x2 = context.nRight, y1 = context.nTop, y2 = context.nBottom;
    if (!(context.nStyle & PBS_VERTICAL)) {
        x1 = bReversed ? context.nLeft + (W - span.nEnd) : context.nLeft + span.nStart;
        x2 = bReversed ? context.nRight - span.nStart : context.nLeft + span.nEnd;
    } else {
        y1 = bReversed ? context.nTop + span.nStart : context.nTop + (H - span.nEnd);
        y2 = bReversed ? context.nTop + span.nEnd : context.nBottom - span.nStart;
    }
    return QRect(x1, y1, x2 - x1, y2 - y1);
}

QString CTextProgressCtrl::FormatLabel(const std::string& strFormat, int nValue) {
    // Only integer conversions take the value; anything else stays as
    // written, so no text can make the formatting read what is not there.
    std::string strLabel;
    for (size_t i = 0; i < strFormat.size(); ++i) {
        if (strFormat[i] != '%') {
            strLabel += strFormat[i];
            continue;
        }
        size_t j = i + 1;
        while (j < strFormat.size() &&
               std::string_view("-+ 0#").find(strFormat[j]) != std::string_view::npos)
            ++j;
        while (j < strFormat.size() && j - i < 8 && strFormat[j] >= '0' && strFormat[j] <= '9')
            ++j;
        if (j < strFormat.size() && strFormat[j] == '%' && j == i + 1) {
            strLabel += '%';
            i = j;
        } else if (j < strFormat.size() && (strFormat[j] == 'd' || strFormat[j] == 'i')) {
            const std::string strSpec = strFormat.substr(i, j - i) + "d";
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, strSpec.c_str(), nValue);
            strLabel += buffer;
            i = j;
        } else {
            strLabel += '%';
        }
    }
    return QString::fromUtf8(strLabel.data(), static_cast<qsizetype>(strLabel.size()));
}

void CTextProgressCtrl::paintEvent(QPaintEvent* pEvent) {
    CMemDC memDC(this, pEvent->rect());
    QPainter& painter = memDC.Painter();
    drawFrame(&painter);
    const QRect rcClient = contentsRect();
    BarPaintContext context{painter,
                            memDC.BitsPerPixel(),
                            m_nStyle,
                            rcClient.left(),
                            rcClient.top(),
                            rcClient.left() + rcClient.width(),
                            rcClient.top() + rcClient.height(),
                            m_nPos,
                            m_nLower,
                            m_nUpper,
                            ColorOf(m_clrTextOverBar)};
    painter.fillRect(rcClient, ColorOf(m_clrBackground));
    const int L = m_nLower, U = m_nUpper, P = m_nPos;
    // An empty range would divide by zero: only the background then.
    if (P < L || P > U || U == L)
        return;
    const int M = (m_nStyle & PBS_VERTICAL) ? rcClient.height() : rcClient.width();
    const float fScale = float(M) / float(U - L);
    BarSpan filled;
    filled.nEnd = static_cast<int>(float(P - L) * fScale);
    filled.nStart = (m_nStyle & PBX_SNAKE) ? static_cast<int>(float(m_nTailPos - L) * fScale) : 0;
    const BarSpan whole{0, M};
    PaintColorRamp(context, (m_nStyle & PBX_GRADIENT_ON_BAR) ? filled : whole, filled);
    PaintLabel(context, whole, filled);
}

void CTextProgressCtrl::PaintColorRamp(BarPaintContext& context, BarSpan ramp, BarSpan clip) {
    const size_t n = m_gradientColors.size();
    if (n < 2)
        return;
    const float d = float(ramp.nEnd - ramp.nStart) / float(n - 1);
    for (size_t i = 0; i + 1 < n; ++i) {
        BarSpan piece;
        piece.nStart = ramp.nStart + static_cast<int>(d * float(i));
        piece.nEnd = i + 2 == n ? ramp.nEnd : ramp.nStart + static_cast<int>(d * float(i + 1));
        if (piece.nEnd < clip.nStart)
            continue;
        const BarSpan pieceClip{std::max(piece.nStart, clip.nStart),
                                std::min(clip.nEnd, piece.nEnd)};
        PaintColorSpan(context, piece, pieceClip, m_gradientColors[i], m_gradientColors[i + 1]);
        if (pieceClip.nEnd == clip.nEnd)
            break;
    }
}

void CTextProgressCtrl::PaintColorSpan(BarPaintContext& context, BarSpan span, BarSpan clip,
                                       COLORREF clrFrom, COLORREF clrTo) {
    const int nFrom[3] = {int(clrFrom & 0xFF), int((clrFrom >> 8) & 0xFF),
                          int((clrFrom >> 16) & 0xFF)};
    const int nDiff[3] = {int(clrTo & 0xFF) - nFrom[0], int((clrTo >> 8) & 0xFF) - nFrom[1],
                          int((clrTo >> 16) & 0xFF) - nFrom[2]};
    const int nLength = span.nEnd - span.nStart;
    int K = std::max({std::abs(nDiff[0]), std::abs(nDiff[1]), std::abs(nDiff[2])});
    K = std::min(K, nLength);
    if (K <= 0)
        K = 1;
    const float fStep[3] = {float(nDiff[0]) / K, float(nDiff[1]) / K, float(nDiff[2]) / K};
    // A device of few colours gets one flat band.
    if (K > 1 && context.nBitsPerPixel < 8)
        K = 1;
    const float w = float(nLength) / float(K);
    for (int i = 0; i < K; ++i) {
        const int nBandStart = span.nStart + static_cast<int>(w * float(i));
        const int nBandEnd =
            i + 1 == K ? span.nEnd : span.nStart + static_cast<int>(w * float(i + 1));
        if (nBandEnd < clip.nStart)
            continue;
        const BarSpan piece{std::max(nBandStart, clip.nStart), std::min(clip.nEnd, nBandEnd)};
        const QColor color((nFrom[0] + static_cast<int>(fStep[0] * float(i))) & 0xFF,
                           (nFrom[1] + static_cast<int>(fStep[1] * float(i))) & 0xFF,
                           (nFrom[2] + static_cast<int>(fStep[2] * float(i))) & 0xFF);
        context.dc.fillRect(MapSpan(context, piece), color);
        if (nBandEnd >= clip.nEnd)
            break;
    }
}

QString CTextProgressCtrl::CurrentLabel() const {
    const uint32_t nMode = m_nStyle & PBX_TEXT_MASK;
    if (nMode == 0)
        return {};
    std::string strFormat = m_strText;
    int nValue = 0;
    if (nMode == PBX_TEXT_PERCENT) {
        if (strFormat.empty())
            strFormat = "%d%%";
        if (m_nUpper != m_nLower)
            nValue =
                static_cast<int>(100.0f * float(m_nPos - m_nLower) / float(m_nUpper - m_nLower));
    } else if (nMode == PBX_TEXT_POSITION) {
        if (strFormat.empty())
            strFormat = "%d";
        nValue = m_nPos;
    }
    return strFormat.empty() ? QString() : FormatLabel(strFormat, nValue);
}

void CTextProgressCtrl::PaintLabel(BarPaintContext& context, BarSpan whole, BarSpan filled) {
    const QString strLabel = CurrentLabel();
    if (strLabel.isEmpty())
        return;
    context.dc.setFont(font());
    const QFontMetrics metrics(font());
    const int cx = metrics.horizontalAdvance(strLabel), cy = metrics.height();
    const bool bVertical = context.nStyle & PBS_VERTICAL;
    const COLORREF clrBar = m_clrTextOverBar, clrBackground = m_clrTextOverBackground;
    // The label's box, its bottom centre at the anchor.
    auto box = [cx, cy](QPoint ptAnchor) {
        return QRect(ptAnchor.x() - cx / 2, ptAnchor.y() - cy, cx, cy);
    };

    if (!(context.nStyle & PBX_TEXT_ON_BAR)) {
        const int W = context.nRight - context.nLeft, H = context.nBottom - context.nTop;
        const QRect rcText = box({context.nLeft + W / 2, context.nTop + (cy + H) / 2});
        context.textColor = ColorOf(clrBar);
        if (clrBar == clrBackground) {
            PaintLabelPiece(context, whole, strLabel, rcText);
            return;
        }
        if (filled.nEnd > filled.nStart)
            PaintLabelPiece(context, filled, strLabel, rcText);
        context.textColor = ColorOf(clrBackground);
        if (filled.nEnd < whole.nEnd)
            PaintLabelPiece(context, {filled.nEnd, whole.nEnd}, strLabel, rcText);
        if (whole.nStart < filled.nStart)
            PaintLabelPiece(context, {whole.nStart, filled.nStart}, strLabel, rcText);
        return;
    }
    const QRect rcFilled = MapSpan(context, filled);
    const int nExtent = bVertical ? cy : cx;
    if (nExtent > filled.nEnd - filled.nStart)
        return;
    const QRect rcText = box(
        {rcFilled.left() + rcFilled.width() / 2, rcFilled.top() + (cy + rcFilled.height()) / 2});
    context.textColor = ColorOf(clrBar);
    PaintLabelPiece(context, filled, strLabel, rcText);
}

void CTextProgressCtrl::PaintLabelPiece(BarPaintContext& context, BarSpan span,
                                        const QString& strLabel, const QRect& rcText) {
    QPainter& painter = context.dc;
    painter.save();
    painter.setClipRect(MapSpan(context, span), Qt::IntersectClip);
    painter.setPen(context.textColor);
    painter.drawText(rcText, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip,
                     strLabel);
    painter.restore();
}
