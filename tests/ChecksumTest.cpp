// SPDX-License-Identifier: GPL-3.0-or-later

#include "TestTree.h"
#include "scan/FileChecksum.h"
#include "scan/Md5.h"
#include "scan/Md5Lanes.h"

#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

struct Md5Case {
    std::string strMessage;
    const char* pszDigest;
};

// The test suite of RFC 1321, appendix A.5.
const Md5Case kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

std::string DigestInPieces(const std::string& strMessage, size_t nPiece) {
    Md5Context context;
    for (size_t nPos = 0; nPos < strMessage.size(); nPos += nPiece)
        context.Update(strMessage.data() + nPos, std::min(nPiece, strMessage.size() - nPos));
    context.Update(strMessage.data(), 0);
    return DigestToHex(context.Finish());
}

// Runs FileChecksum on another thread, so that a call that blocks fails the
// test instead of hanging it.
std::optional<std::optional<std::string>> ChecksumWithin(const std::string& strPath,
                                                         std::chrono::seconds timeout) {
    auto pPromise = std::make_shared<std::promise<std::optional<std::string>>>();
    std::future<std::optional<std::string>> result = pPromise->get_future();
    std::thread([pPromise, strPath] { pPromise->set_value(FileChecksum(strPath)); }).detach();
    if (result.wait_for(timeout) != std::future_status::ready)
        return std::nullopt;
    return result.get();
}

} // namespace

TEST(Md5, Rfc1321TestSuite) {
    for (const Md5Case& c : kRfc1321Suite) {
        EXPECT_EQ(DigestInPieces(c.strMessage, c.strMessage.size() + 1), c.pszDigest)
            << "'" << c.strMessage << "'";
    }
}

TEST(Md5, PiecesOfAnyLengthGiveTheSameDigest) {
    // Lengths around the 56- and 64-byte edges of the padding.
    for (size_t nLength : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 128u, 1000u}) {
        std::string strMessage(nLength, '\0');
        for (size_t i = 0; i < nLength; ++i)
            strMessage[i] = static_cast<char>(i * 31 + 7);
        const std::string strWhole = DigestInPieces(strMessage, nLength + 1);
        for (size_t nPiece : {1u, 3u, 63u, 64u, 65u})
            EXPECT_EQ(DigestInPieces(strMessage, nPiece), strWhole) << nLength << "/" << nPiece;
    }
    EXPECT_EQ(DigestInPieces(std::string(1000000, 'a'), 4096), "7707d6ae4e027c70eea2a935c2296f21");
}

// Messages hashed sixteen at once give the digests of one at a time, whatever
// their lengths: every length around the block and padding edges, lanes that
// end together or far apart, fewer messages than lanes.
TEST(Md5, MessagesHashedTogetherGiveTheDigestsOfOneByOne) {
    std::mt19937_64 random(7);
    std::vector<std::string> texts;
    for (size_t n = 0; n <= 200; ++n)
        texts.push_back(std::string(n, static_cast<char>('a' + n % 26)));
    for (int i = 0; i < 300; ++i) {
        std::string strText(random() % (i % 10 == 0 ? 70000 : 700), '\0');
        for (char& c : strText)
            c = static_cast<char>(random());
        texts.push_back(std::move(strText));
    }
    for (const size_t nCount :
         {size_t(1), size_t(3), size_t(4), size_t(16), size_t(17), texts.size()}) {
        const std::vector<std::string_view> messages(texts.begin(), texts.begin() + nCount);
        std::vector<Md5Digest> digests(nCount);
        Md5OfMessages(messages, digests);
        for (size_t i = 0; i < nCount; ++i) {
            Md5Context one;
            one.Update(messages[i].data(), messages[i].size());
            ASSERT_EQ(DigestToHex(digests[i]), DigestToHex(one.Finish()))
                << "message " << i << " of " << nCount << ", " << messages[i].size() << " bytes";
        }
    }
}

TEST(Md5, FinishClearsTheContext) {
    Md5Context context;
    context.Update("abc", 3);
    EXPECT_EQ(DigestToHex(context.Finish()), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(DigestToHex(context.Finish()), "d41d8cd98f00b204e9800998ecf8427e");
    context.Update("a", 1);
    EXPECT_EQ(DigestToHex(context.Finish()), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5, DigestToHexIsLowercaseHighNibbleFirst) {
    Md5Digest digest{};
    for (size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<uint8_t>(i * 17 + 10);
    EXPECT_EQ(DigestToHex(digest), "0a1b2c3d4e5f708192a3b4c5d6e7f809");
}

TEST(FileChecksum, ReadsTheWholeFile) {
    TestTree tree;
    tree.WriteFile("empty", "");
    EXPECT_EQ(FileChecksum(tree.Path("empty")), "d41d8cd98f00b204e9800998ecf8427e");
    // Sizes at the read block's edges and beyond one block.
    for (uint64_t nSize : {1ull, 512ull, 65536ull, 131072ull, 131073ull, 262144ull, 1000003ull}) {
        tree.WriteSizedFile("f", nSize);
        EXPECT_EQ(FileChecksum(tree.Path("f")), Md5OfText(PatternContent(nSize))) << nSize;
    }
}

TEST(FileChecksum, NoDigestForWhatIsNotAReadableRegularFile) {
    TestTree tree;
    tree.MakeDir("dir");
    tree.MakeFifo("fifo");
    EXPECT_EQ(FileChecksum(tree.Path("dir")), std::nullopt);
    EXPECT_EQ(FileChecksum(tree.Path("missing")), std::nullopt);
    EXPECT_EQ(FileChecksum(""), std::nullopt);
    const auto fifo = ChecksumWithin(tree.Path("fifo"), std::chrono::seconds(10));
    ASSERT_TRUE(fifo.has_value()) << "FileChecksum blocked on a FIFO";
    EXPECT_EQ(*fifo, std::nullopt);
    EXPECT_EQ(FileChecksum("/dev/null"), std::nullopt);
    if (::geteuid() != 0) { // root reads anything
        tree.WriteFile("secret", "x");
        ::chmod(tree.Path("secret").c_str(), 0);
        EXPECT_EQ(FileChecksum(tree.Path("secret")), std::nullopt);
    }
}

TEST(FileChecksum, FollowsALinkByPathButNotInADirectory) {
    TestTree tree;
    tree.WriteFile("target", "abc");
    tree.MakeSymlink("target", "link");
    EXPECT_EQ(FileChecksum(tree.Path("link")), "900150983cd24fb0d6963f7d28e17f72");
    const int fd = ::open(tree.Root().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(FileChecksumAt(fd, "target", true), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(FileChecksumAt(fd, "link", true), std::nullopt);
    ::close(fd);
}
