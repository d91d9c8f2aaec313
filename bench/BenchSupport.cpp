// SPDX-License-Identifier: GPL-3.0-or-later

#include "BenchSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string MakeTempDir(const std::string& strPrefix) {
    const char* pszTmp = std::getenv("TMPDIR");
    std::string strTemplate =
        std::string(pszTmp && *pszTmp ? pszTmp : "/tmp") + "/" + strPrefix + "-XXXXXX";
    if (!::mkdtemp(strTemplate.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return strTemplate;
}

uint64_t OptionValue(int argc, char** argv, const char* pszOption, uint64_t nDefault) {
    for (int i = 2; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], pszOption) == 0)
            return std::strtoull(argv[i + 1], nullptr, 10);
    return nDefault;
}
