// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <functional>
#include <string>

// The lock a program holds while it writes a catalog (builds, updates,
// reindexes or deletes it), so that two writers of one catalog take turns
// and none reports success for work another then undoes. It is an advisory
// lock on a small file beside the catalog's real file, which the system
// releases however the holder ends (a kill included); the file is removed
// when the lock is released. Readers take no lock.
class CatalogLock {
public:
    // How to take the lock when another program holds it: wait for it
    // (fnWaiting, when given, is called once before the wait), or not.
    struct Wait {
        bool bWait = false;
        std::function<void()> fnWaiting;
        // When given, asked every tenth of a second of the wait: true gives
        // it up (EngineError), for a program that catches the stop signals.
        std::function<bool()> fnGiveUp;
    };

    // Takes the lock of the catalog file strCatalogPath (of the file a link
    // there points to). Raises EngineError when another program holds it and
    // wait.bWait is false, or when the lock cannot be made (a read-only folder).
    CatalogLock(const std::string& strCatalogPath, const Wait& wait);
    ~CatalogLock();
    CatalogLock(const CatalogLock&) = delete;
    CatalogLock& operator=(const CatalogLock&) = delete;

    // The catalog's real file: strCatalogPath with any links resolved.
    const std::string& CatalogPath() const { return m_strCatalogPath; }
    // Where a new catalog is built before it takes the old one's place; no
    // catalog list shows it, and its log fits in a file name.
    const std::string& BuildPath() const { return m_strBuildPath; }
    // Removes what writers of this catalog that are gone left beside it (a
    // build or update killed before it ended). Safe only while locked.
    void RemoveLeftovers() const;

private:
    std::string m_strCatalogPath;
    std::string m_strLockPath;
    std::string m_strBuildPath;
    int m_fd = -1;
};

// The real file a catalog path names: the target of a link there (also one
// whose target does not exist yet), else the path itself.
std::string ResolveCatalogLink(const std::string& strPath);

// Puts the complete catalog built at strBuildPath in the place of the
// catalog strCatalogPath in one step: the new file gets the old one's mode
// and owner, and is on the disk first. The reason of a failure (the build
// is then removed and the old catalog stays), else an empty text.
std::string ReplaceCatalog(const std::string& strBuildPath, const std::string& strCatalogPath);
