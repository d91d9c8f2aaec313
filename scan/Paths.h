#pragma once

#include <string>
#include <string_view>

// The text with every pair "//" (left to right, not overlapping) made one
// '/': a run of n separators becomes n/2 rounded up.
std::string CollapseSeparatorPairs(std::string_view path);

// parent + '/' + name, with every pair "//" (left to right, not overlapping)
// made one '/': "/" and "usr" give "/usr", "/data/" and "x" give "/data/x".
std::string JoinPath(std::string_view parent, std::string_view name);
