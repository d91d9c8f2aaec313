// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <vector>

// A rectangle of a treemap, in the units of the area it was laid out in.
struct TreemapRect {
    double dX = 0, dY = 0, dWidth = 0, dHeight = 0;
};

// Lays out weights as squarified rectangles filling the area (x, y, width,
// height): each rectangle's area is its share of the total, and rows are
// chosen so that rectangles stay as close to squares as they can. Weights
// must be in descending order; a zero weight gets an empty rectangle. The
// result holds one rectangle per weight, in the same order; all empty when
// the weights sum to zero or the area is empty.
std::vector<TreemapRect> SquarifiedLayout(const std::vector<uint64_t>& weights, double dX,
                                          double dY, double dWidth, double dHeight);
