// SPDX-License-Identifier: GPL-3.0-or-later

// Kestrel, the desktop program: catalogues directory trees and searches the
// catalogues.
#include "app/CMainApp.h"
#include "scan/OpenFileLimit.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char* const kHelp =
    "Usage: kestrel [QT_OPTION]...\n"
    "\n"
    "Kestrel catalogues directory trees and searches the catalogues, also when the\n"
    "disks they describe are not mounted. It opens its window on the Search page;\n"
    "Help > Help (F1) explains it. The command-line companion is kestrel-cli.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this text\n"
    "  --version    print the version\n"
    "Qt's own options work too, such as -platform NAME and -style NAME.\n";

} // namespace

int main(int argc, char** argv) {
    // Answered before QApplication exists, which needs a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("kestrel " KESTREL_VERSION "\n", stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Kestrel");
    QApplication::setApplicationName("kestrel");
    QApplication::setApplicationDisplayName("Kestrel");
    QApplication::setApplicationVersion(KESTREL_VERSION);
    QApplication::setDesktopFileName("kestrel");
    RaiseOpenFileLimit();
    CMainApp app;
    return app.InitInstance();
}
