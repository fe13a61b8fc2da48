// The program `upgrade`: the wizard.
#include <QApplication>

#include "wizard/upgrade_app.h"

int main(int argc, char* argv[]) {
    QApplication qt(argc, argv);
    QApplication::setApplicationName(QStringLiteral("upgrade"));
    CUpgradeApp app;
    app.InitInstance();
    return app.ExitInstance();
}
