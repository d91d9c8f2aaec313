// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/RowData.h"

#include <cstring>

RowData::RowData(std::initializer_list<std::string_view> texts) {
    const size_t nCount = texts.size();
    const size_t nHeader = (nCount + 2) * sizeof(uint32_t);
    size_t nBytes = nHeader;
    for (std::string_view text : texts)
        nBytes += text.size() + 1;
    m_pBlock.reset(new uint32_t[(nBytes + sizeof(uint32_t) - 1) / sizeof(uint32_t)]);
    m_pBlock[0] = static_cast<uint32_t>(nCount);
    char* pChars = reinterpret_cast<char*>(m_pBlock.get());
    uint32_t nOffset = static_cast<uint32_t>(nHeader);
    size_t i = 0;
    for (std::string_view text : texts) {
        m_pBlock[1 + i++] = nOffset;
        std::memcpy(pChars + nOffset, text.data(), text.size());
        pChars[nOffset + text.size()] = '\0';
        nOffset += static_cast<uint32_t>(text.size() + 1);
    }
    m_pBlock[1 + nCount] = nOffset;
}

std::string_view RowData::Text(int nColumn) const {
    if (nColumn < 0 || nColumn >= Count())
        return {};
    const char* pChars = reinterpret_cast<const char*>(m_pBlock.get());
    const uint32_t nBegin = m_pBlock[1 + nColumn];
    return {pChars + nBegin, m_pBlock[2 + nColumn] - nBegin - 1};
}
