#include "scan/Paths.h"

std::string CollapseSeparatorPairs(std::string_view path) {
    std::string strCollapsed;
    strCollapsed.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        strCollapsed += path[i];
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/')
            ++i;
    }
    return strCollapsed;
}

std::string JoinPath(std::string_view parent, std::string_view name) {
    std::string strJoined;
    strJoined.reserve(parent.size() + 1 + name.size());
    strJoined.append(parent);
    strJoined += '/';
    strJoined.append(name);
    if (strJoined.find("//") == std::string::npos)
        return strJoined;
    return CollapseSeparatorPairs(strJoined);
}

std::string FilePath(std::string_view dir, std::string_view name) {
    std::string strPath;
    strPath.reserve(dir.size() + 1 + name.size());
    strPath.append(dir);
    strPath += '/';
    // The root stored as "/" would give "//": short paths lose a doubled separator.
    if (strPath.size() <= 4)
        strPath = CollapseSeparatorPairs(strPath);
    strPath.append(name);
    return strPath;
}

std::string NormalPath(std::string_view path) {
    std::string strNormal;
    strNormal.reserve(path.size());
    for (const char c : path)
        if (c != '/' || strNormal.empty() || strNormal.back() != '/')
            strNormal += c;
    if (strNormal.size() > 1 && strNormal.back() == '/')
        strNormal.pop_back();
    return strNormal;
}

std::string_view PathBelow(std::string_view normalPath, std::string_view normalStart) {
    if (normalPath.substr(0, normalStart.size()) != normalStart)
        return normalPath;
    if (normalPath.size() == normalStart.size())
        return {};
    if (normalStart == "/")
        return normalPath.substr(1);
    if (normalPath[normalStart.size()] != '/')
        return normalPath;
    return normalPath.substr(normalStart.size() + 1);
}
