// SPDX-License-Identifier: GPL-3.0-or-later

#include "controls/RowCompare.h"

#include "controls/RowData.h"

#include <QCollator>
#include <QString>
#include <array>
#include <limits>

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

int Sign(int64_t nDiff) {
    return nDiff < 0 ? -1 : nDiff > 0 ? 1 : 0;
}

int CompareValues(int64_t x, int64_t y) {
    return x < y ? -1 : x > y ? 1 : 0;
}

// The piece of text from byte nFrom, at most nLength bytes, as far as it reaches.
std::string_view Piece(std::string_view text, size_t nFrom, size_t nLength) {
    return nFrom < text.size() ? text.substr(nFrom, nLength) : std::string_view();
}

using DateKey = std::array<int64_t, 3>; // year, month, day

DateKey DateKeyOf(std::string_view text) {
    return {AtoI64(Piece(text, 6, 4)), AtoI64(Piece(text, 3, 2)), AtoI64(Piece(text, 0, 2))};
}

int CompareDateKeys(const DateKey& x, const DateKey& y) {
    for (size_t i = 0; i < x.size(); ++i)
        if (x[i] != y[i])
            return CompareValues(x[i], y[i]);
    return 0;
}

enum class TextKind : uint8_t { Number, Date, Other };

TextKind KindOf(std::string_view text) {
    return IsNumberText(text) ? TextKind::Number
           : IsDateText(text) ? TextKind::Date
                              : TextKind::Other;
}

// Everything a comparison needs of each row, worked out once per sort so the
// n log n comparisons neither parse nor convert.
class SortKeys {
public:
    SortKeys(const std::vector<const RowData*>& rows, int nColumn, const QCollator& collator) {
        const size_t nRows = rows.size();
        m_texts.reserve(nRows);
        m_kinds.reserve(nRows);
        m_numbers.reserve(nRows);
        bool bDates = false, bOthers = false;
        for (const RowData* pRow : rows) {
            const std::string_view text = pRow ? pRow->Text(nColumn) : std::string_view();
            m_texts.push_back(text);
            m_kinds.push_back(KindOf(text));
            m_numbers.push_back(AtoI64(text));
            bDates |= m_kinds.back() == TextKind::Date;
            bOthers |= m_kinds.back() == TextKind::Other;
        }
        // Any row may be the second text of a date or collation comparison,
        // but those happen only when some first text is of that kind.
        if (bDates) {
            m_dates.reserve(nRows);
            for (std::string_view text : m_texts)
                m_dates.push_back(DateKeyOf(text));
        }
        if (bOthers) {
            m_collationKeys.reserve(nRows);
            for (std::string_view text : m_texts)
                m_collationKeys.push_back(collator.sortKey(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
        }
    }

    // The comparison of row r1 with row r2 (r1 first), the direction applied.
    int Compare(uint32_t r1, uint32_t r2, bool bAscending) const {
        const uint32_t x = bAscending ? r1 : r2;
        const uint32_t y = bAscending ? r2 : r1;
        switch (m_kinds[r1]) {
        case TextKind::Number:
            return CompareValues(m_numbers[x], m_numbers[y]);
        case TextKind::Date:
            return CompareDateKeys(m_dates[x], m_dates[y]);
        case TextKind::Other:
            break;
        }
        const int nOrder = m_collationKeys[x].compare(m_collationKeys[y]);
        // Texts the collation holds equal (or that differ only in bytes that
        // are not UTF-8) still get one fixed order.
        return nOrder != 0 ? Sign(nOrder) : Sign(m_texts[x].compare(m_texts[y]));
    }

private:
    std::vector<std::string_view> m_texts;
    std::vector<TextKind> m_kinds;
    std::vector<int64_t> m_numbers;
    std::vector<DateKey> m_dates;
    std::vector<QCollatorSortKey> m_collationKeys;
};

} // namespace

bool IsNumberText(std::string_view text) {
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

bool IsDateText(std::string_view text) {
    if (text.size() != 10 || text[2] != '/' || text[5] != '/')
        return false;
    for (size_t i : {0, 1, 3, 4, 6, 7, 8, 9})
        if (!IsDigit(text[i]))
            return false;
    return true;
}

int64_t AtoI64(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool bNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        bNegative = text[i++] == '-';
    // Accumulated as a negative number, whose range reaches one further.
    constexpr int64_t nMin = std::numeric_limits<int64_t>::min();
    int64_t nValue = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        const int nDigit = text[i] - '0';
        nValue = nValue < (nMin + nDigit) / 10 ? nMin : nValue * 10 - nDigit;
    }
    if (bNegative)
        return nValue;
    return nValue == nMin ? std::numeric_limits<int64_t>::max() : -nValue;
}

int CompareNumberTexts(std::string_view x, std::string_view y) {
    return CompareValues(AtoI64(x), AtoI64(y));
}

int CompareDateTexts(std::string_view x, std::string_view y) {
    return CompareDateKeys(DateKeyOf(x), DateKeyOf(y));
}

std::vector<uint32_t> SortRowOrder(const std::vector<const RowData*>& rows, int nColumn,
                                   bool bAscending, const QCollator& collator) {
    const SortKeys keys(rows, nColumn, collator);
    const size_t nRows = rows.size();
    std::vector<uint32_t> order(nRows), merged(nRows);
    for (size_t i = 0; i < nRows; ++i)
        order[i] = static_cast<uint32_t>(i);
    // Bottom-up merge sort: every step is bounded by the runs' ends, whatever
    // the comparison answers.
    for (size_t nWidth = 1; nWidth < nRows; nWidth *= 2) {
        for (size_t nLeft = 0; nLeft < nRows; nLeft += 2 * nWidth) {
            const size_t nMid = std::min(nLeft + nWidth, nRows);
            const size_t nEnd = std::min(nLeft + 2 * nWidth, nRows);
            size_t i = nLeft, j = nMid, k = nLeft;
            while (i < nMid && j < nEnd)
                merged[k++] =
                    keys.Compare(order[i], order[j], bAscending) > 0 ? order[j++] : order[i++];
            while (i < nMid)
                merged[k++] = order[i++];
            while (j < nEnd)
                merged[k++] = order[j++];
        }
        order.swap(merged);
    }
    return order;
}
