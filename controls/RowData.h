// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>

// One list row's own copies of the texts it was added with, column 0 first,
// kept as the exact bytes given (a path need not be UTF-8). All texts share
// one heap block: the column count, the offsets of the texts and of their
// end, then the texts, each followed by a NUL.
class RowData {
public:
    // A freed row: no texts at all.
    RowData() = default;
    explicit RowData(std::initializer_list<std::string_view> texts);

    explicit operator bool() const { return m_pBlock != nullptr; }
    int Count() const { return m_pBlock ? static_cast<int>(m_pBlock[0]) : 0; }
    // The text of a column; empty when the row has no such column.
    std::string_view Text(int nColumn) const;

private:
    std::unique_ptr<uint32_t[]> m_pBlock;
};
