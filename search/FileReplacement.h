// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <string>
#include <string_view>

// A file's new content, written whole to a temporary file beside it (mode
// 0644); Commit then puts it in the file's place in one step, so the file is
// either as it was or wholly new. Not committed, the temporary file is
// removed when the replacement ends.
class FileReplacement {
public:
    // Writes the content; with bSync it is on the disk before this returns.
    FileReplacement(const std::string& strPath, std::string_view content, bool bSync);
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // True when the whole content was written (and synced, if asked).
    bool IsWritten() const { return m_bWritten; }
    // Puts the new content in the file's place; false when it was not
    // written or could not be put there.
    bool Commit();
    // The errno of the step that failed, or 0.
    int Error() const { return m_nError; }

private:
    std::string m_strPath;
    std::string m_strTemp; // empty once committed, or when none was made
    bool m_bWritten = false;
    int m_nError = 0;
};

// Replaces the file at strPath by content at once (see FileReplacement);
// 0, or the errno of the failure, in which case the file is as it was.
int ReplaceFileWhole(const std::string& strPath, std::string_view content, bool bSync);
