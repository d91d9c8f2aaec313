// SPDX-License-Identifier: GPL-3.0-or-later

#include "browse/TreeParents.h"

#include <algorithm>
#include <string_view>

namespace {

bool IsAbove(std::string_view above, std::string_view path) {
    return !above.empty() && path.size() > above.size() && path.substr(0, above.size()) == above &&
           (above == "/" || path[above.size()] == '/');
}

// Byte order with '/' before every other byte, so that everything below a
// folder comes right after it.
bool TreeOrder(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const int nX = x == '/' ? -1 : static_cast<unsigned char>(x);
        const int nY = y == '/' ? -1 : static_cast<unsigned char>(y);
        return nX < nY;
    });
}

} // namespace

std::vector<size_t> ParentsByPath(const std::vector<std::string>& normals,
                                  std::vector<size_t>& order) {
    order.resize(normals.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return TreeOrder(normals[a], normals[b]); });
    // Walked in tree order, the folders above the one at hand are those on
    // the stack.
    std::vector<size_t> parents(normals.size(), kNoParent), stack;
    for (const size_t i : order) {
        while (!stack.empty() && !IsAbove(normals[stack.back()], normals[i]))
            stack.pop_back();
        if (!stack.empty())
            parents[i] = stack.back();
        stack.push_back(i);
    }
    return parents;
}
