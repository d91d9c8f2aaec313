// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/ExcludeList.h"

#include "scan/Paths.h"

#include <algorithm>

ExcludeList::ExcludeList(const std::vector<std::string>& patterns) {
    for (const std::string& strPattern : patterns)
        (strPattern.find('/') == std::string::npos ? m_names : m_paths).emplace_back(strPattern);
}

bool ExcludeList::Excludes(std::string_view name, const std::string& strParentPath) const {
    auto anyMatches = [](const std::vector<LikeMatcher>& matchers, std::string_view text) {
        return std::any_of(matchers.begin(), matchers.end(),
                           [&](const LikeMatcher& matcher) { return matcher.Matches(text); });
    };
    return anyMatches(m_names, name) ||
           (!m_paths.empty() && anyMatches(m_paths, JoinPath(strParentPath, name)));
}
