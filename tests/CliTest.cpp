// SPDX-License-Identifier: GPL-3.0-or-later

#include "CliProcess.h"
#include "TestTree.h"
#include "catalog/Database.h"
#include "catalog/ResultSet.h"
#include "scan/FileChecksum.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class CliTest : public ::testing::Test {
protected:
    CliResult Run(const std::vector<std::string>& args) { return m_cli.Run(args); }
    std::string CatalogPath(const std::string& strName) { return m_cli.CatalogPath(strName); }
    int64_t Count(const std::string& strName, const std::string& strSql) {
        return QueryNumber(CatalogPath(strName), strSql);
    }

    CliProcess m_cli;
    const TestTree& m_home = m_cli.Home();
    TestTree m_tree;
};

} // namespace

TEST_F(CliTest, CreateBuildsTheCatalogInTheDataFolder) {
    m_tree.MakeDir("sub");
    m_tree.WriteFile("sub/small", "abc");
    m_tree.WriteSizedFile("big", 200 * 1024);
    // The data folder does not exist yet: it is made.
    CliResult result = Run({"create", "Disk 1", m_tree.Root()});
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_NE(result.strOut.find("2 directories, 2 files, 0 checksums"), std::string::npos)
        << result.strOut;
    EXPECT_EQ(Count("Disk 1", "SELECT count(*) FROM files WHERE md5_checksum IS NULL"), 2);

    // --max-size alone turns nothing on; with --checksum it sets the limit.
    result = Run({"create", "--max-size", "500", "--force", "Disk 1", m_tree.Root()});
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_EQ(Count("Disk 1", "SELECT count(md5_checksum) FROM files"), 0);
    result = Run({"create", "--checksum", "--force", "Disk 1", m_tree.Root()});
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_EQ(Count("Disk 1", "SELECT count(md5_checksum) FROM files"), 1);
    result = Run({"create", "--checksum", "--max-size=0", "--force", "Disk 1", m_tree.Root()});
    ASSERT_EQ(result.nExit, 0) << result.strErr;
    EXPECT_EQ(Count("Disk 1", "SELECT count(md5_checksum) FROM files"), 2);
    EXPECT_NE(result.strOut.find("2 checksums"), std::string::npos) << result.strOut;
}

TEST_F(CliTest, CreateRefusesBadInputWithStatus2AndLosesNothing) {
    ASSERT_EQ(Run({"create", "Keep", m_tree.Root()}).nExit, 0);
    const auto keptDigest = FileChecksum(CatalogPath("Keep"));
    const struct {
        std::vector<std::string> args;
        const char* pszMessage;
    } kCases[] = {
        {{"create", "Keep", m_tree.Root()}, "already exists"},
        {{"create", "", m_tree.Root()}, "Enter database name"},
        {{"create", "../Keep", m_tree.Root()}, "must not contain '/'"},
        {{"create", "New", ""}, "Enter start directory"},
        {{"create", "--max-size", "ten", "New", m_tree.Root()}, "--max-size"},
        {{"create", "--max-size", "-1", "New", m_tree.Root()}, "--max-size"},
        {{"create", "--max-size"}, "needs a value"},
        {{"create", "--bogus", "New", m_tree.Root()}, "unknown option"},
        {{"create", "New"}, "NAME and a START_DIR"},
        {{"frobnicate"}, "unknown command"},
    };
    for (const auto& c : kCases) {
        const CliResult result = Run(c.args);
        EXPECT_EQ(result.nExit, 2) << c.pszMessage;
        EXPECT_NE(result.strErr.find(c.pszMessage), std::string::npos) << result.strErr;
        EXPECT_EQ(std::count(result.strErr.begin(), result.strErr.end(), '\n'), 1) << result.strErr;
    }
    EXPECT_EQ(FileChecksum(CatalogPath("Keep")), keptDigest);
    EXPECT_EQ(FileChecksum(CatalogPath("New")), std::nullopt);
}

TEST_F(CliTest, EngineFailureIsStatus1WithItsText) {
    // The catalog's name is taken by a folder, which cannot be replaced.
    ASSERT_EQ(::mkdir((m_home.Path("data")).c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((m_home.Path("data") + "/kestrel").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(CatalogPath("Taken").c_str(), 0755), 0);
    const CliResult result = Run({"create", "--force", "Taken", m_tree.Root()});
    EXPECT_EQ(result.nExit, 1);
    EXPECT_NE(result.strErr.find("Taken.mdb"), std::string::npos) << result.strErr;
}

TEST_F(CliTest, HelpTellsTheCommands) {
    const CliResult general = Run({"--help"});
    EXPECT_EQ(general.nExit, 0);
    for (const char* pszCommand : {"create [--checksum]", "update [--checksum]", "info [--format",
                                   "search [--where", "verify [--format", "diff [--content]",
                                   "duplicates [--min-size", "list", "add PATH", "delete [--yes]"})
        EXPECT_NE(general.strOut.find(pszCommand), std::string::npos) << pszCommand;
    const CliResult create = Run({"create", "--help"});
    EXPECT_EQ(create.nExit, 0);
    for (const char* pszWord : {"--checksum", "--max-size", "--force", "Exit status", "kestrel/"})
        EXPECT_NE(create.strOut.find(pszWord), std::string::npos) << pszWord;
    EXPECT_EQ(Run({}).nExit, 2);
}

TEST_F(CliTest, VersionIsTheProjectVersion) {
    const CliResult result = Run({"--version"});
    EXPECT_EQ(result.nExit, 0);
    EXPECT_EQ(result.strOut, "kestrel-cli " KESTREL_VERSION "\n");
    EXPECT_EQ(result.strErr, "");
    EXPECT_NE(Run({"--help"}).strOut.find("--version"), std::string::npos);
}

TEST_F(CliTest, ListAddAndDeleteKeepTheListTrue) {
    m_tree.WriteFile("f", "f");
    ASSERT_EQ(Run({"create", "Alpha", m_tree.Root()}).nExit, 0);
    ASSERT_EQ(Run({"create", "beta", m_tree.Root()}).nExit, 0);
    const std::string strOther = m_home.Path("other.mdb");
    ASSERT_EQ(::rename(CatalogPath("beta").c_str(), strOther.c_str()), 0);
    m_home.WriteFile("text.mdb", "plain text, no database at all, and long enough for that");

    EXPECT_EQ(Run({"list"}).strOut, "Alpha\n");
    EXPECT_EQ(Run({"add", strOther}).nExit, 0);
    EXPECT_EQ(Run({"list"}).strOut, "Alpha\n" + strOther + "\n");
    const struct {
        std::string strPath;
        const char* pszMessage;
    } kRefused[] = {
        {strOther, "Database already in list"},
        {m_home.Path("text.mdb"), "not a database"},
        {m_home.Path("missing.mdb"), "missing.mdb"},
    };
    for (const auto& c : kRefused) {
        const CliResult result = Run({"add", c.strPath});
        EXPECT_EQ(result.nExit, 1) << c.strPath;
        EXPECT_NE(result.strErr.find(c.pszMessage), std::string::npos) << result.strErr;
    }
    EXPECT_EQ(Run({"list"}).strOut, "Alpha\n" + strOther + "\n");

    // Without a terminal, delete does not ask and does nothing without --yes.
    const CliResult unasked = Run({"delete", strOther});
    EXPECT_EQ(unasked.nExit, 1);
    EXPECT_NE(unasked.strErr.find("--yes"), std::string::npos);
    EXPECT_TRUE(FileChecksum(strOther).has_value());
    EXPECT_EQ(Run({"delete", "--yes", strOther}).nExit, 0);
    EXPECT_FALSE(FileChecksum(strOther).has_value());
    EXPECT_EQ(Run({"delete", "--yes", "Alpha"}).nExit, 0);
    EXPECT_EQ(Run({"list"}).strOut, "");
    EXPECT_EQ(Run({"delete", "--yes", "Alpha"}).nExit, 1); // no longer listed
}

TEST_F(CliTest, SearchPrintsHitsLikeGrep) {
    EXPECT_EQ(Run({"search", "*"}).nExit, 2); // no catalog at all
    m_tree.MakeDir("Docs");
    m_tree.WriteFile("Docs/Report.TXT", "12345");
    m_tree.WriteFile("notes.txt", "");
    m_tree.WriteFile("image.png", "");
    ASSERT_EQ(Run({"create", "--checksum", "One", m_tree.Path("Docs")}).nExit, 0);
    ASSERT_EQ(Run({"create", "Two", m_tree.Root()}).nExit, 0);

    CliResult result = Run({"search", "--where", "files", "*.txt", "One"});
    EXPECT_EQ(result.nExit, 0);
    EXPECT_EQ(result.strOut,
              m_tree.Path("Docs/Report.TXT") + "\t5\t" + Md5OfText("12345") + "\tOne\n");
    result = Run({"search", "--where", "dirs", "*/docs"});
    EXPECT_EQ(result.nExit, 0);
    EXPECT_EQ(result.strOut,
              m_tree.Path("Docs") + "\t\t\tOne\n" + m_tree.Path("Docs") + "\t\t\tTwo\n");
    // Every listed catalog by default, in list order, files of a matching directory too.
    result = Run({"search", "*docs*"});
    EXPECT_EQ(std::count(result.strOut.begin(), result.strOut.end(), '\n'), 2) << result.strOut;
    EXPECT_LT(result.strOut.find("\tOne\n"), result.strOut.find("\tTwo\n"));

    EXPECT_EQ(Run({"search", "nothing like it"}).nExit, 1);
    const struct {
        std::vector<std::string> args;
        const char* pszMessage;
    } kErrors[] = {
        {{"search", ""}, "Enter text to search"},
        {{"search", "[a"}, "no closing ']'"},
        {{"search", "--where", "everywhere", "*"}, "--where"},
        {{"search", "*", "One", "Gone", "Two"}, "'Gone' is not in the catalog list"},
    };
    for (const auto& c : kErrors) {
        result = Run(c.args);
        EXPECT_EQ(result.nExit, 2) << c.pszMessage;
        EXPECT_NE(result.strErr.find(c.pszMessage), std::string::npos) << result.strErr;
    }
    // The catalog before the missing one was searched, the one after it not.
    EXPECT_NE(result.strOut.find("\tOne\n"), std::string::npos);
    EXPECT_EQ(result.strOut.find("\tTwo\n"), std::string::npos);
}

TEST_F(CliTest, VerifyTellsChangedMissingUnreadableAndUncheckedApart) {
    m_tree.WriteFile("same", "unchanged");
    m_tree.WriteFile("edited", "original");
    m_tree.WriteFile("grown", "short");
    m_tree.WriteFile("removed", "bye");
    m_tree.WriteFile("secret", "hidden");
    m_tree.WriteSizedFile("big", 200 * 1024);  // over the limit: no checksum
    m_tree.WriteSizedFile("big2", 200 * 1024); // the same, left alone
    m_tree.MakeDir("dir");
    m_tree.MakeSymlink("nowhere", "dangling");
    m_tree.MakeSymlink("dir", "to-dir");
    m_tree.MakeFifo("fifo");
    const int nSocket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string strSocket = m_tree.Path("socket");
    std::strncpy(address.sun_path, strSocket.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(nSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // A file deeper than the longest path the system takes in one piece.
    m_tree.MakeDeepFile("deep", 25, std::string(200, 'd'), "far", "far away");
    ASSERT_EQ(Run({"create", "--checksum", "Disk", m_tree.Root()}).nExit, 0);
    // Checked as an ordinary user: root reads every file.
    ::chmod(m_tree.Root().c_str(), 0755);
    m_cli.DropRoot(true);
    CliResult result = Run({"verify", "Disk"});
    EXPECT_EQ(result.nExit, 0) << result.strOut << result.strErr;
    EXPECT_NE(result.strOut.find("6 unchanged, 0 changed, 0 not found, 0 not readable, 6 not "
                                 "checked\n"),
              std::string::npos)
        << result.strOut;

    m_tree.WriteFile("edited", "ORIGINAL"); // same size, other bytes
    m_tree.WriteFile("grown", "longer now");
    m_tree.WriteSizedFile("big", 200 * 1024 + 1); // no checksum, but another size
    ::unlink(m_tree.Path("removed").c_str());
    ::chmod(m_tree.Path("secret").c_str(), 0);
    result = Run({"verify", "Disk"});
    EXPECT_EQ(result.nExit, 1);
    for (const std::string& strLine :
         {"File '" + m_tree.Path("edited") + "' was changed\n",
          "File '" + m_tree.Path("grown") + "' was changed\n",
          "File '" + m_tree.Path("big") + "' was changed\n",
          "File '" + m_tree.Path("removed") + "' not found\n",
          "File '" + m_tree.Path("secret") + "' cannot be read\n",
          std::string("2 unchanged, 3 changed, 1 not found, 1 not readable, 5 not checked\n")})
        EXPECT_NE(result.strOut.find(strLine), std::string::npos) << strLine << result.strOut;
    EXPECT_EQ(Run({"verify", "Nowhere"}).nExit, 2);
    ::close(nSocket);
}
