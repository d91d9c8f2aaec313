#pragma once

#include "search/RecordWriter.h"
#include "search/SearchFilter.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How each hit of a search is written.
struct HitFormat {
    OutputFormat format = OutputFormat::Tsv;
    bool bNulSeparated = false; // only the path, ended by a NUL byte
    SearchFilter filter;
};

// The record fields of a search hit.
std::vector<RecordField> HitFields();

// Searches the catalogs of entries on as many threads as the machine has
// cores (each catalog on one thread, with its own connection), and passes
// the written hits to fnWrite in the entries' order, as they come. The first
// catalog that fails ends the search: the hits of the catalogs before it are
// all written, of those after it none, and its error is raised as an
// EngineError. Returns the number of hits written.
uint64_t SearchCatalogsInParallel(const std::string& strAppPath,
                                  const std::vector<std::string>& entries, int nMode,
                                  const std::string& strPattern, const HitFormat& format,
                                  const std::function<void(std::string_view)>& fnWrite);
