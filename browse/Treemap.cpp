// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/Treemap.h"

#include <algorithm>

namespace {

// The worst aspect ratio of a row of areas summing to dSum, largest dMax and
// smallest dMin, laid along a side of length dSide.
double WorstRatio(double dSum, double dMax, double dMin, double dSide) {
    const double dSide2 = dSide * dSide, dSum2 = dSum * dSum;
    return std::max(dSide2 * dMax / dSum2, dSum2 / (dSide2 * dMin));
}

} // namespace

std::vector<TreemapRect> SquarifiedLayout(const std::vector<uint64_t>& weights, double dX,
                                          double dY, double dWidth, double dHeight) {
    std::vector<TreemapRect> rects(weights.size());
    long double total = 0;
    for (const uint64_t nWeight : weights)
        total += static_cast<long double>(nWeight);
    if (total <= 0 || dWidth <= 0 || dHeight <= 0)
        return rects;
    const double dScale = static_cast<double>(dWidth * dHeight / total);
    size_t nFirst = 0;
    const size_t nEnd = std::find(weights.begin(), weights.end(), 0) - weights.begin();
    while (nFirst < nEnd) {
        // A row along the shorter side takes areas while that makes its worst
        // rectangle no worse.
        const double dSide = std::min(dWidth, dHeight);
        double dSum = static_cast<double>(weights[nFirst]) * dScale;
        const double dMax = dSum;
        double dMin = dSum;
        size_t nLast = nFirst + 1;
        while (nLast < nEnd) {
            const double dArea = static_cast<double>(weights[nLast]) * dScale;
            if (WorstRatio(dSum + dArea, dMax, dArea, dSide) > WorstRatio(dSum, dMax, dMin, dSide))
                break;
            dSum += dArea;
            dMin = dArea;
            ++nLast;
        }
        // The last row takes what is left exactly, so rounding leaves no gap.
        const bool bRest = nLast == nEnd;
        const bool bAcross = dWidth >= dHeight; // the row stands as a column at the left
        const double dThick = bRest ? (bAcross ? dWidth : dHeight) : dSum / dSide;
        double dAlong = bAcross ? dY : dX;
        for (size_t i = nFirst; i < nLast; ++i) {
            const double dLength = static_cast<double>(weights[i]) * dScale / dSum * dSide;
            TreemapRect& rect = rects[i];
            if (bAcross)
                rect = {dX, dAlong, dThick, i + 1 == nLast ? dY + dHeight - dAlong : dLength};
            else
                rect = {dAlong, dY, i + 1 == nLast ? dX + dWidth - dAlong : dLength, dThick};
            dAlong += dLength;
        }
        if (bAcross) {
            dX += dThick;
            dWidth -= dThick;
        } else {
            dY += dThick;
            dHeight -= dThick;
        }
        nFirst = nLast;
    }
    for (size_t i = nEnd; i < rects.size(); ++i)
        rects[i] = {dX, dY, 0, 0};
    return rects;
}
