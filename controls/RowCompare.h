// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

class QCollator;
class RowData;

// The comparison the result list sorts by. Its kind is chosen from the text
// of the first-compared row alone: a number text compares both texts as
// numbers, a date text as day-first dates, any other text in the collation of
// the user's locale, letter case counting.

// True when every byte is an ASCII digit; the empty text counts as a number.
bool IsNumberText(std::string_view text);

// True for exactly ten bytes "dd/dd/dddd" (ASCII digits and two slashes).
bool IsDateText(std::string_view text);

// The value C's atoi reads from the text (leading white space, an optional
// sign, the digits up to the first other byte; 0 without digits), in 64 bits
// and held at the limits instead of overflowing.
int64_t AtoI64(std::string_view text);

// -1, 0 or 1 as the atoi values of x and y order.
int CompareNumberTexts(std::string_view x, std::string_view y);

// -1, 0 or 1 as the day-first dates x and y order: by the year (bytes 7 to
// 10), then the month (4 and 5), then the day (1 and 2), each read with atoi
// as far as the text reaches.
int CompareDateTexts(std::string_view x, std::string_view y);

// The rows' order after a sort by column nColumn: element k is the index of
// the row that goes to place k. A null row sorts as empty texts. Equal rows
// keep their order. The sort is a merge sort, which stays a permutation even
// though the comparison is not a strict order across kinds.
std::vector<uint32_t> SortRowOrder(const std::vector<const RowData*>& rows, int nColumn,
                                   bool bAscending, const QCollator& collator);
