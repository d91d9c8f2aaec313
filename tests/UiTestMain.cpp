// SPDX-License-Identifier: GPL-3.0-or-later

// The widget tests' main: one QApplication on the offscreen platform (no
// display needed, also when the tests are only being listed), and a fresh
// temporary home for this process, so tests running side by side never share
// a profile or a data folder and none touches the user's own.
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::filesystem::path tempBase = std::filesystem::temp_directory_path();
    std::string strHome = (tempBase / "kestrel-ui-XXXXXX").string();
    if (!::mkdtemp(strHome.data()))
        return 1;
    ::setenv("XDG_CONFIG_HOME", (strHome + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (strHome + "/data").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", strHome.c_str(), 1);
    int nResult = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        nResult = RUN_ALL_TESTS();
    }
    std::error_code error;
    std::filesystem::remove_all(strHome, error);
    return nResult;
}
