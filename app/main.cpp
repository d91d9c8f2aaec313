// Kestrel, the desktop program: catalogues directory trees and searches the
// catalogues.
#include "app/CMainApp.h"
#include "scan/OpenFileLimit.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Kestrel");
    QApplication::setApplicationName("kestrel");
    QApplication::setApplicationDisplayName("Kestrel");
    QApplication::setDesktopFileName("kestrel");
    RaiseOpenFileLimit();
    CMainApp app;
    return app.InitInstance();
}
