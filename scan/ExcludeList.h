// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "catalog/LikeMatcher.h"

#include <string>
#include <string_view>
#include <vector>

// The entries a walk leaves out, parsed once from their patterns: a pattern
// without '/' is matched against an entry's name, one with '/' against its
// whole path.
class ExcludeList {
public:
    // Parses the patterns; raises EngineError for one that is malformed.
    explicit ExcludeList(const std::vector<std::string>& patterns);

    // True when the entry name in the directory strParentPath is left out.
    bool Excludes(std::string_view name, const std::string& strParentPath) const;

private:
    std::vector<LikeMatcher> m_names;
    std::vector<LikeMatcher> m_paths;
};
