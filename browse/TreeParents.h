// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Each folder's parent, for folders given by their paths in the normal form
// (NormalPath), all distinct: the nearest folder above it, whole names
// compared (/data is not above /database); kNoParent for one with none
// above. order gets the folders' indexes in tree order: every folder before
// the folders below it.
inline constexpr size_t kNoParent = static_cast<size_t>(-1);
std::vector<size_t> ParentsByPath(const std::vector<std::string>& normals,
                                  std::vector<size_t>& order);
