// The application: creates the upgrade context (which reads the settings file), runs the
// wizard sheet and ends when the sheet closes.
#pragma once

class CUpgradeApp {
  public:
    // Builds and runs the sheet; returns when it has closed. A QApplication must exist.
    // Returns false: the program then ends without a message loop of its own.
    bool InitInstance();
    // Nothing to tidy up: the sheet's close procedure has saved the settings. Returns 0.
    int ExitInstance();
};
