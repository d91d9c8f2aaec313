// SPDX-License-Identifier: GPL-3.0-or-later

// kestrel-cli under stops, kills, concurrent readers and writers, scarce
// resources, failing media and unwritable output: every test runs the real
// executable as its own process.
#include "CliProcess.h"
#include "TestTree.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kTreeFiles = 12000;

size_t CountLines(const std::string& strText) {
    return static_cast<size_t>(std::count(strText.begin(), strText.end(), '\n'));
}

class CliFaultTest : public ::testing::Test {
protected:
    // A tree of kTreeFiles empty files in three folders, listed slowly, so a
    // build takes a second or two and commits several times on the way.
    void MakeSlowTree() {
        for (const char* pszDir : {"a", "b", "c"})
            m_tree.MakeDir(pszDir);
        for (int i = 0; i < kTreeFiles; ++i)
            m_tree.WriteFile(std::string(i % 3 == 0   ? "a/"
                                         : i % 3 == 1 ? "b/"
                                                      : "c/") +
                                 "f" + std::to_string(i),
                             "");
        m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=150");
    }

    // Waits until a search of the catalog being built finds committed rows.
    bool WaitForCommittedRows(const std::string& strName, pid_t builder) {
        return m_cli.WaitUntil(builder, [&] {
            return m_cli.Run({"search", "--where", "files", "*", strName}).nExit == 0;
        });
    }

    CliProcess m_cli;
    TestTree m_tree;
};

} // namespace

TEST_F(CliFaultTest, StoppedOrKilledBuildsLeaveCatalogsEveryCommandOpens) {
    MakeSlowTree();
    const struct {
        int nSignal;
        int nExit;
    } kStops[] = {{SIGKILL, 128 + SIGKILL}, {SIGINT, 130}, {SIGTERM, 143}};
    for (const auto& stop : kStops) {
        const std::string strName = "Stopped" + std::to_string(stop.nSignal);
        const pid_t builder = m_cli.Start({"create", strName, m_tree.Root()});
        ASSERT_TRUE(WaitForCommittedRows(strName, builder)) << strName;
        ::kill(builder, stop.nSignal);
        const CliResult build = m_cli.Wait(builder);
        ASSERT_EQ(build.nExit, stop.nExit) << build.strErr;
        if (stop.nSignal != SIGKILL) {
            EXPECT_NE(build.strErr.find("incomplete"), std::string::npos) << build.strErr;
            EXPECT_NE(build.strOut.find(strName + ".mdb: "), std::string::npos);
        }
        // Every command reads what was committed.
        const CliResult search = m_cli.Run({"search", "--where", "files", "*", strName});
        EXPECT_EQ(search.nExit, 0) << search.strErr;
        EXPECT_GT(CountLines(search.strOut), 0u);
        EXPECT_LT(CountLines(search.strOut), static_cast<size_t>(kTreeFiles));
        const CliResult verify = m_cli.Run({"verify", strName});
        EXPECT_EQ(verify.nExit, 0) << verify.strErr;
        // add opens it as a catalog; listed by its name already, it is not
        // listed a second time by its full path.
        const CliResult add = m_cli.Run({"add", m_cli.CatalogPath(strName)});
        EXPECT_EQ(add.nExit, 1);
        EXPECT_NE(add.strErr.find("Database already in list"), std::string::npos) << add.strErr;
        // And it is one plain file again.
        EXPECT_FALSE(Exists(m_cli.CatalogPath(strName) + "-journal"));
        EXPECT_FALSE(Exists(m_cli.CatalogPath(strName) + "-wal"));
    }
}

TEST_F(CliFaultTest, ReadersNeverBreakABuild) {
    MakeSlowTree();
    const pid_t builder = m_cli.Start({"create", "Busy", m_tree.Root()});
    int nSearches = 0, nWithHits = 0;
    m_cli.WaitUntil(builder, [&] { return Exists(m_cli.CatalogPath("Busy")); });
    while (m_cli.Running(builder)) {
        // Two readers at once, again and again, while the build goes on.
        const pid_t first = m_cli.Start({"search", "*", "Busy"});
        const pid_t second = m_cli.Start({"search", "--where", "dirs", "*", "Busy"});
        for (const CliResult& result : {m_cli.Wait(first), m_cli.Wait(second)}) {
            ++nSearches;
            nWithHits += result.nExit == 0;
            // No hits yet, or some; busy only with a clear word.
            if (result.nExit == 2)
                EXPECT_NE(result.strErr.find("busy"), std::string::npos) << result.strErr;
            else
                EXPECT_TRUE(result.nExit == 0 || result.nExit == 1) << result.strErr;
        }
    }
    const CliResult build = m_cli.Wait(builder);
    EXPECT_EQ(build.nExit, 0) << "the build failed while being read: " << build.strErr;
    EXPECT_GT(nSearches, 4);
    EXPECT_GT(nWithHits, 0);
    const CliResult all = m_cli.Run({"search", "--where", "files", "*", "Busy"});
    EXPECT_EQ(CountLines(all.strOut), static_cast<size_t>(kTreeFiles));
}

TEST_F(CliFaultTest, TheWalkNeverHangsAndSaysWhatItCouldNotRead) {
    // Files of /proc report sizes that say nothing of what they yield: none
    // is read, and the walk ends.
    CliResult result = m_cli.Run({"create", "--checksum", "--max-size", "0", "Proc", "/proc/self"},
                                 "exec timeout 60 \"$@\"");
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_GT(QueryNumber(m_cli.CatalogPath("Proc"), "SELECT count(*) FROM files"), 0);
    EXPECT_EQ(QueryNumber(m_cli.CatalogPath("Proc"), "SELECT count(md5_checksum) FROM files"), 0);

    // 400 levels with descriptors for 48 open files: the whole tree is stored.
    m_tree.MakeDeepFile("", 400, "d", "bottom", "");
    result =
        m_cli.Run({"create", "--checksum", "Deep", m_tree.Root()}, "ulimit -n 48 && exec \"$@\"");
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_EQ(QueryNumber(m_cli.CatalogPath("Deep"), "SELECT count(*) FROM dirs"), 401);
    EXPECT_EQ(QueryNumber(m_cli.CatalogPath("Deep"), "SELECT count(md5_checksum) FROM files"), 1);

    // A card that stops answering part way through a listing: what was read
    // stays, and the summary says one directory was not read completely.
    TestTree card;
    card.MakeDir("DCIM");
    card.WriteFile("DCIM/eio-after-this", "");
    for (int i = 0; i < 20; ++i)
        card.WriteFile("DCIM/IMG_" + std::to_string(i), "x");
    m_cli.InjectFaults("KESTREL_FAULT_READDIR_DELAY_US=0");
    result = m_cli.Run({"create", "Card", card.Root()});
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_NE(result.strOut.find("; 1 directory could not be read completely"), std::string::npos)
        << result.strOut;
    EXPECT_LT(QueryNumber(m_cli.CatalogPath("Card"), "SELECT count(*) FROM files"), 21);
}

TEST_F(CliFaultTest, OutputIsCheckedEscapedAndNulSeparated) {
    m_tree.MakeDir("odd");
    for (const char* pszName : {"tab\there", "new\nline", "back\\slash", "cr\rend"})
        m_tree.WriteFile(std::string("odd/") + pszName, "");
    for (int i = 0; i < 3000; ++i)
        m_tree.WriteFile(Concat({"f", std::to_string(i)}), "");
    ASSERT_EQ(m_cli.Run({"create", "Odd", m_tree.Path("odd")}).nExit, 0);
    ASSERT_EQ(m_cli.Run({"create", "Many", m_tree.Root()}).nExit, 0);

    CliResult result = m_cli.Run({"search", "--where", "files", "*", "Odd"});
    EXPECT_EQ(result.nExit, 0);
    const std::string strDir = m_tree.Path("odd/");
    for (const std::string& strLine :
         {strDir + "tab\\there\t0\t\tOdd\n", strDir + "new\\nline\t0\t\tOdd\n",
          strDir + "back\\\\slash\t0\t\tOdd\n", strDir + "cr\\rend\t0\t\tOdd\n"})
        EXPECT_NE(result.strOut.find(strLine), std::string::npos) << strLine;
    EXPECT_EQ(CountLines(result.strOut), 4u);
    result = m_cli.Run({"search", "-0", "--where", "files", "new*", "Odd"});
    EXPECT_EQ(result.strOut, strDir + "new\nline" + std::string(1, '\0'));

    // A full disk is an error, not a success; a reader that hangs up is not.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"search", "*", "Many"}, std::vector<std::string>{"list"}}) {
        result = m_cli.Run(args, "exec \"$@\" > /dev/full");
        EXPECT_EQ(result.nExit, 2) << args[0];
        EXPECT_NE(result.strErr.find("No space left on device"), std::string::npos)
            << result.strErr;
    }
    result = m_cli.Run({"search", "*", "Many"}, "\"$@\" | head -n 1 > /dev/null");
    EXPECT_EQ(result.nExit, 0);
    EXPECT_EQ(result.strErr, "");

    // A malformed pattern is refused before any catalog is read, also one
    // that holds no rows, and is quoted only in part.
    TestTree empty;
    ASSERT_EQ(m_cli.Run({"create", "Empty", empty.Root()}).nExit, 0);
    result = m_cli.Run({"search", "[" + std::string(300, 'a'), "Empty"});
    EXPECT_EQ(result.nExit, 2);
    EXPECT_NE(result.strErr.find("no closing ']'"), std::string::npos) << result.strErr;
    EXPECT_EQ(result.strErr.find(std::string(101, 'a')), std::string::npos);
}

TEST_F(CliFaultTest, TheListFileLosesNothing) {
    // Sixteen catalogs listed by path; eight are deleted while eight others
    // are added, all at the same time.
    TestTree tree, shelf;
    ASSERT_EQ(m_cli.Run({"create", "Seed", tree.Root()}).nExit, 0);
    auto copyCatalog = [&](const std::string& strTo) {
        ASSERT_EQ(::system(("cp '" + m_cli.CatalogPath("Seed") + "' '" + strTo + "'").c_str()), 0);
    };
    std::vector<std::string> kept, added, deleted;
    for (int i = 0; i < 24; ++i) {
        const std::string strPath = shelf.Path(Concat({"c", std::to_string(i), ".mdb"}));
        copyCatalog(strPath);
        (i < 8 ? deleted : i < 16 ? kept : added).push_back(strPath);
    }
    for (const std::string& strPath : deleted)
        ASSERT_EQ(m_cli.Run({"add", strPath}).nExit, 0);
    for (const std::string& strPath : kept)
        ASSERT_EQ(m_cli.Run({"add", strPath}).nExit, 0);
    std::vector<pid_t> runs;
    for (int i = 0; i < 8; ++i) {
        runs.push_back(m_cli.Start({"delete", "--yes", deleted[i]}));
        runs.push_back(m_cli.Start({"add", added[i]}));
    }
    for (pid_t pid : runs)
        EXPECT_EQ(m_cli.Wait(pid).nExit, 0);
    std::string strExpected = "Seed\n";
    std::vector<std::string> expectedPaths = kept;
    expectedPaths.insert(expectedPaths.end(), added.begin(), added.end());
    std::vector<std::string> listed;
    const std::string strList = m_cli.Run({"list"}).strOut;
    for (size_t nPos = 0; nPos < strList.size();) {
        const size_t nEnd = strList.find('\n', nPos);
        listed.push_back(strList.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;
    }
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed[0], "Seed");
    listed.erase(listed.begin());
    std::sort(listed.begin(), listed.end());
    std::sort(expectedPaths.begin(), expectedPaths.end());
    EXPECT_EQ(listed, expectedPaths);

    // A file that cannot be removed is said so, and the list keeps its line.
    const std::string strListFile = m_cli.DataFolder() + "dblist.txt";
    shelf.MakeDir("folder.mdb");
    m_cli.Home().WriteFile("data/kestrel/dblist.txt", shelf.Path("folder.mdb") + "\n");
    CliResult result = m_cli.Run({"delete", "--yes", shelf.Path("folder.mdb")});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_NE(result.strErr.find("folder.mdb"), std::string::npos) << result.strErr;
    EXPECT_EQ(m_cli.Run({"list"}).strOut, "Seed\n" + shelf.Path("folder.mdb") + "\n");

    // On a full disk neither add nor delete changes anything, and they say so.
    TestTree small;
    const ScopedTmpfs mount(small.Root(), "256k");
    if (!mount.Mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here (needs root): full-disk part skipped";
    CliProcess cli;
    const std::string strData = cli.Home().Path("data");
    ASSERT_EQ(::symlink(small.Root().c_str(), strData.c_str()), 0);
    ASSERT_EQ(cli.Run({"create", "Local", tree.Root()}).nExit, 0);
    ASSERT_EQ(cli.Run({"add", kept[0]}).nExit, 0);
    ASSERT_EQ(cli.Run({"add", kept[1]}).nExit, 0);
    const std::string strBefore = cli.Run({"list"}).strOut;
    // Fill the disk to its last byte.
    ::system(("cat /dev/zero > '" + small.Path("filler") + "' 2>/dev/null").c_str());
    result = cli.Run({"add", kept[2]});
    EXPECT_EQ(result.nExit, 1);
    result = cli.Run({"delete", "--yes", kept[0]});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_NE(result.strErr.find("No space left on device"), std::string::npos) << result.strErr;
    EXPECT_TRUE(Exists(kept[0]));
    EXPECT_EQ(cli.Run({"list"}).strOut, strBefore);
    // A build that cannot store even its first row leaves no empty catalog.
    result = cli.Run({"create", "NoRoom", tree.Root()});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_FALSE(Exists(cli.CatalogPath("NoRoom")));
    EXPECT_EQ(cli.Run({"list"}).strOut, strBefore);
}

TEST_F(CliFaultTest, OddFilesNamesAndLimitsAreRefusedNeverHung) {
    ASSERT_EQ(m_cli.Run({"create", "Real", m_tree.Root()}).nExit, 0);
    // A FIFO named like a catalog is no catalog: listing, searching all and
    // adding it never block on it.
    const std::string strFifo = m_cli.DataFolder() + "pipe.mdb";
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0644), 0);
    EXPECT_EQ(m_cli.Run({"list"}).strOut, "Real\n");
    CliResult result = m_cli.Run({"search", "--where", "dirs", "*"}, "exec timeout 20 \"$@\"");
    EXPECT_EQ(result.nExit, 0) << result.strErr;
    result = m_cli.Run({"add", strFifo}, "exec timeout 20 \"$@\"");
    EXPECT_EQ(result.nExit, 1);
    EXPECT_NE(result.strErr.find("is not a catalog file"), std::string::npos) << result.strErr;

    // A name too long for the catalog's file or journal writes nothing.
    result = m_cli.Run({"create", std::string(250, 'n'), m_tree.Root()});
    EXPECT_EQ(result.nExit, 2);
    EXPECT_NE(result.strErr.find("Database name is too long"), std::string::npos);
    EXPECT_EQ(m_cli.Run({"list"}).strOut, "Real\n");

    // A build that cannot write its first row leaves no empty catalog
    // behind, which would stop every search of all catalogs.
    result =
        m_cli.Run({"create", "Nothing", m_tree.Root()}, "trap '' XFSZ; ulimit -f 1; exec \"$@\"");
    EXPECT_EQ(result.nExit, 1);
    EXPECT_FALSE(Exists(m_cli.CatalogPath("Nothing")));
    EXPECT_EQ(m_cli.Run({"search", "--where", "dirs", "*"}).nExit, 0);

#if !defined(__SANITIZE_ADDRESS__) &&                                                              \
    !defined(__SANITIZE_THREAD__) // sanitizers reserve more address space than any limit here
    // No thread can be made (each would need more address space than there
    // is): a message and status 1, not an abort.
    result = m_cli.Run({"create", "NoThread", m_tree.Root()},
                       "ulimit -s 1000000 && ulimit -v 400000 && exec \"$@\"");
    EXPECT_EQ(result.nExit, 1);
    EXPECT_NE(result.strErr.find("kestrel-cli: "), std::string::npos) << result.strErr;
#endif
}

TEST_F(CliFaultTest, FilesReadFromTheDiskAreHashedWithFewDescriptors) {
    // 400 levels with a file at each: the walk holds a descriptor for every
    // level it can, and the files' checksums must still be read, with
    // descriptors for 128 open files.
    std::string strLevel = "deep";
    m_tree.MakeDir(strLevel);
    for (int i = 0; i < 400; ++i) {
        m_tree.WriteFile(strLevel + "/f", Concat({"level ", std::to_string(i)}));
        strLevel += "/d";
        m_tree.MakeDir(strLevel);
    }
    const CliResult deep =
        m_cli.Run({"create", "--checksum", "--jobs", "1", "Deep", m_tree.Path("deep")},
                  "ulimit -n 128 && exec \"$@\"");
    EXPECT_EQ(deep.nExit, 0) << deep.strErr;
    EXPECT_EQ(QueryNumber(m_cli.CatalogPath("Deep"), "SELECT count(*) FROM dirs"), 401);
    EXPECT_EQ(QueryNumber(m_cli.CatalogPath("Deep"), "SELECT count(md5_checksum) FROM files"), 400);

    // Small files that are not in the page cache go to the reader of their
    // device, each held open until it is hashed: with descriptors for 32
    // open files the build still ends with every checksum.
    constexpr int kDirs = 4, kFiles = 150;
    std::vector<std::pair<std::string, std::string>> files;
    for (int d = 0; d < kDirs; ++d) {
        const std::string strDir = "cold/s" + std::to_string(d);
        m_tree.MakeDir(strDir);
        for (int i = 0; i < kFiles; ++i) {
            const std::string strName = Concat({strDir, "/f", std::to_string(i)});
            const std::string strContent =
                Concat({strName, PatternContent(static_cast<uint64_t>(1 + (i * 61 + d) % 9000))});
            m_tree.WriteFile(strName, strContent);
            files.emplace_back(strName, Md5OfText(strContent));
        }
    }
    // Several builds, each of files put out of the page cache first: how
    // many are held open at once depends on how fast the disk answers.
    for (int nRun = 0; nRun < 6; ++nRun) {
        for (const auto& [strName, strDigest] : files) {
            const int fd = ::open(m_tree.Path(strName).c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_GE(fd, 0) << strName;
            ::fdatasync(fd);
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
        const CliResult result = m_cli.Run(
            {"create", "--checksum", "--jobs", "1", "--force", "Cold", m_tree.Path("cold")},
            "ulimit -n 32 && exec \"$@\"");
        ASSERT_EQ(result.nExit, 0) << "run " << nRun << ": " << result.strErr;
        ASSERT_EQ(QueryNumber(m_cli.CatalogPath("Cold"), "SELECT count(md5_checksum) FROM files"),
                  kDirs * kFiles)
            << "run " << nRun;
    }
    // Each file's content begins with its own path: every digest is one file's.
    for (const auto& [strName, strDigest] : files)
        EXPECT_EQ(QueryNumber(m_cli.CatalogPath("Cold"),
                              Concat({"SELECT count(*) FROM files WHERE md5_checksum = '",
                                      strDigest, "'"})),
                  1)
            << strName;
}
