#include "wizard/upgrade_app.h"

#include "tasks/upgrade_context.h"
#include "wizard/upgrade_sheet.h"

bool CUpgradeApp::InitInstance() {
    GetContext()->InitContext();
    CUpgradeSheet sheet;
    sheet.exec();
    return false;
}

int CUpgradeApp::ExitInstance() {
    return 0;
}
