#include "controls/DialogUnits.h"

#include <QFontMetrics>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int nAlphabet =
        metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    // The average of the 52 letters, rounded.
    m_nBaseX = std::max(1, (nAlphabet / 26 + 1) / 2);
    m_nBaseY = std::max(1, metrics.height());
}
