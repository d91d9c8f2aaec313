#pragma once

#include <string>
#include <vector>

// kestrel-cli diff [--content] [--format tsv|csv|json] OLD NEW: exit 0 when
// nothing differs (with --content: every file of OLD has a copy in NEW), 1
// when something does, 2 on an error.
int RunDiffCommand(const std::vector<std::string>& args);

// kestrel-cli duplicates [--min-size SIZE] [--format tsv|csv|json] [ENTRY...]:
// exit 0 when there are duplicates, 1 when there are none, 2 on an error.
int RunDuplicatesCommand(const std::vector<std::string>& args);
