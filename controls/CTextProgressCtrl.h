// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QColor>
#include <QFrame>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class QPainter;

// A colour as 0x00BBGGRR: red in the low byte.
using COLORREF = uint32_t;

constexpr COLORREF MakeColorRef(int nRed, int nGreen, int nBlue) {
    return static_cast<COLORREF>((nRed & 0xFF) | (nGreen & 0xFF) << 8 | (nBlue & 0xFF) << 16);
}
QColor ColorOf(COLORREF clr);
COLORREF ColorRefOf(const QColor& color);

// Style bits of the bar.
inline constexpr uint32_t PBS_VERTICAL = 0x0004;
inline constexpr uint32_t PBX_TEXT_MASK = 0x0300;       // label mode; 0 = no label
inline constexpr uint32_t PBX_TEXT_PERCENT = 0x0100;    // the text formatted with the percentage
inline constexpr uint32_t PBX_TEXT_POSITION = 0x0200;   // the text formatted with the position
inline constexpr uint32_t PBX_TEXT_ONLY = 0x0300;       // the text formatted with 0
inline constexpr uint32_t PBX_TEXT_ON_BAR = 0x1000;     // label on the filled part, if it fits
inline constexpr uint32_t PBX_GRADIENT_ON_BAR = 0x2000; // the ramp spans the filled part only
inline constexpr uint32_t PBX_REVERSED = 0x4000;        // the bar starts at the right (or top)
inline constexpr uint32_t PBX_SNAKE = 0x8000; // a segment runs from the tail to the position

// What the colour setters answer: the colour the bar kept is the default.
inline constexpr COLORREF kDefaultColorResult = 0xFF000000;

// A stretch along the bar, in pixels from where the bar starts.
struct BarSpan {
    int nStart = 0;
    int nEnd = 0;
};

// What one paint works with. The client edges are exclusive on the right and
// at the bottom.
struct BarPaintContext {
    QPainter& dc;
    int nBitsPerPixel;
    uint32_t nStyle;
    int nLeft, nTop, nRight, nBottom;
    int nPos, nLower, nUpper;
    QColor textColor; // of the label piece drawn next
};

// A progress bar that paints everything itself: a colour ramp of several
// stops, a label in two colours split at the edge of the filled part, and
// the snake, a segment that runs across the bar and comes back from the
// other side. Position, range and step are its own, with the usual clamping.
class CTextProgressCtrl : public QFrame {
    Q_OBJECT

public:
    explicit CTextProgressCtrl(QWidget* pParent = nullptr);

    // Colour stops, spaced evenly from the bar's start to its far end.
    std::vector<COLORREF> m_gradientColors;
    COLORREF m_clrBackground;
    COLORREF m_clrTextOverBar;
    COLORREF m_clrTextOverBackground;
    int m_nTailPos = 0;
    int m_nSnakeSize = 40;
    int m_nStepSize = 10; // the snake's step

    int GetPos() const { return m_nPos; }
    // Sets the range (nLower below nUpper), keeping the position inside it.
    void SetRange(int nLower, int nUpper);
    uint32_t GetStyle() const { return m_nStyle; }
    void ModifyStyle(uint32_t nRemove, uint32_t nAdd);
    const std::string& GetWindowText() const { return m_strText; }

    // The bar's messages. The colour setters answer kDefaultColorResult; the
    // position setters answer the previous position.
    COLORREF SetBarColor(COLORREF wParam, COLORREF lParam); // stops lParam, then wParam or lParam
    COLORREF SetBkColor(COLORREF clr);
    int SetPos(int nPos);
    int DeltaPos(int nDelta);
    int StepIt();
    int SetStep(int nStep); // answers the previous step
    // Label mode and text; a null or empty text or mode 0 turns the label off.
    void SetTextFormat(const char* pszText, uint32_t nMode);

    struct SnakeAnswer {
        bool bHandled;
        int nResult;
    };
    // In snake mode moves the head to nValue (or by |nValue|), the tail
    // nSnakeSize behind it, wrapping round and flipping the direction after
    // the far end; otherwise declines.
    virtual SnakeAnswer AdvanceSnake(int nValue, bool bRelative);

    // The label as it is drawn now: the text of the label mode formatted with
    // the percentage, the position or 0; empty when there is no label.
    QString CurrentLabel() const;

    // The client rectangle of a stretch along the bar.
    static QRect MapSpan(const BarPaintContext& context, BarSpan span);
    // The label text with its printf-style integer conversions filled in.
    static QString FormatLabel(const std::string& strFormat, int nValue);

protected:
    void paintEvent(QPaintEvent* pEvent) override;

    virtual void PaintColorRamp(BarPaintContext& context, BarSpan ramp, BarSpan clip);
    virtual void PaintColorSpan(BarPaintContext& context, BarSpan span, BarSpan clip,
                                COLORREF clrFrom, COLORREF clrTo);
    virtual void PaintLabel(BarPaintContext& context, BarSpan whole, BarSpan filled);
    // Draws the label into its box rcText, only inside span.
    virtual void PaintLabelPiece(BarPaintContext& context, BarSpan span, const QString& strLabel,
                                 const QRect& rcText);

private:
    // The plain bar's own handling: clamps to the range, answers the
    // previous position, repaints when the position changes.
    int DefaultSetPos(int64_t nPos);

    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
    int m_nStep = 10; // the plain bar's step
    uint32_t m_nStyle = 0;
    std::string m_strText;
};
