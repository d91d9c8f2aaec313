// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include "scan/DirectoryReader.h"
#include "scan/ExcludeList.h"

#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

struct ScanJob;
class WalkQueue;

// The depth-first walk below a stored start directory: each directory's
// subdirectory rows, then its files, then each subdirectory's subtree in
// turn, handed to the writer as steps. It keeps one open directory per level on its way down, and
// copes with few descriptors: when the system has none left it closes those of the levels above,
// which it opens again by name (never through a link) when it comes back to them.
class TreeWalk {
public:
    // Walks below strStartPath into queue, with the job's settings; both stay
    // the caller's. It keeps at most nMaxOpenLevels directories open at once
    // (the deepest), leaving the rest of the process's descriptors to the
    // threads that hash. Raises EngineError for a malformed exclude pattern.
    TreeWalk(WalkQueue& queue, ScanJob& job, const std::string& strStartPath,
             size_t nMaxOpenLevels);

    // Walks the tree below the start path, whose row is stored already
    // (directory number 0 of the steps). Directories that cannot be read are
    // counted in the job's outcome; raises EngineError when the system runs
    // out of memory or descriptors, and WalkAbandoned when the writer gave up.
    void Run();

private:
    // A directory whose subtree is being walked: its descriptor (closed when
    // descriptors run short, and opened again by name when needed), its name
    // in the directory above, its stored path, and its subdirectories (names
    // back to back, with the ids their rows were given) still to walk.
    struct Level {
        struct Subdirectory {
            size_t nNameOffset;
            size_t nNameLength;
            uint64_t nDir;
        };
        UniqueFd fd;
        std::string strName;
        std::string strPath;
        std::string strNames;
        std::vector<Subdirectory> subdirectories;
        size_t nNext = 0;
    };

    void RecordState(uint64_t nDir, const struct stat& st);
    bool IsOtherFileSystem(int nDirFd, const char* pszName, uint64_t nDir);
    bool Stopped();
    bool ReleaseDescriptors(size_t nKeep);
    template <typename Open> UniqueFd OpenRelieving(size_t nKeep, Open fnOpen);
    int LevelFd(size_t i);
    void ListDirectory(size_t i, uint64_t nDir);
    void HashHere(int nDirFd, const DirectoryEntry& entry, const std::function<bool()>& fnRelieve);

    WalkQueue& m_queue;
    ScanJob& m_job;
    const std::string& m_strStartPath;
    const std::string& m_strOpenPath; // where the start path is read now
    ExcludeList m_excludes;
    dev_t m_nStartDevice = 0;
    uint64_t m_nDirectories = 0; // Directory steps so far
    uint64_t m_nMaxChecksumBytes;
    size_t m_nMaxOpenLevels;
    std::vector<Level> m_levels;
};
