// SPDX-License-Identifier: GPL-3.0-or-later

#include "scan/Paths.h"

#include <algorithm>
#include <vector>

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
    AssignFilePath(dir, name, strPath);
    return strPath;
}

void AssignFilePath(std::string_view dir, std::string_view name, std::string& strPath) {
    strPath.assign(dir);
    strPath += '/';
    // The root stored as "/" would give "//": short paths lose a doubled separator.
    if (strPath.size() <= 4)
        strPath = CollapseSeparatorPairs(strPath);
    strPath.append(name);
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

std::string LexicalPath(const std::string& strPath) {
    std::vector<std::string> names;
    for (size_t nPos = 0; nPos <= strPath.size();) {
        const size_t nEnd = std::min(strPath.find('/', nPos), strPath.size());
        const std::string strName = strPath.substr(nPos, nEnd - nPos);
        if (strName == ".." && !names.empty())
            names.pop_back();
        else if (!strName.empty() && strName != "." && strName != "..")
            names.push_back(strName);
        nPos = nEnd + 1;
    }
    std::string strResult = strPath[0] == '/' ? "/" : "";
    for (size_t i = 0; i < names.size(); ++i)
        strResult += (i ? "/" : "") + names[i];
    return strResult;
}

std::pair<std::string, std::string> SplitFolderAndName(std::string_view path) {
    const size_t nSlash = path.find_last_of('/');
    if (nSlash == std::string_view::npos)
        return {"/", std::string(path)};
    return {nSlash == 0 ? std::string("/") : std::string(path.substr(0, nSlash)),
            std::string(path.substr(nSlash + 1))};
}
