#include "scan/ExcludeList.h"

#include "scan/Paths.h"

ExcludeList::ExcludeList(const std::vector<std::string>& patterns) {
    for (const std::string& strPattern : patterns)
        (strPattern.find('/') == std::string::npos ? m_names : m_paths).emplace_back(strPattern);
}

bool ExcludeList::Excludes(std::string_view name, const std::string& strParentPath) const {
    for (const LikeMatcher& matcher : m_names)
        if (matcher.Matches(name))
            return true;
    if (m_paths.empty())
        return false;
    const std::string strPath = JoinPath(strParentPath, name);
    for (const LikeMatcher& matcher : m_paths)
        if (matcher.Matches(strPath))
            return true;
    return false;
}
