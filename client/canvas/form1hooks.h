#pragma once

// What the main window asks of the layers above it while it loads and while it
// shuts down. The defaults do nothing and report a platform without window
// transparency, so a bare main window works on its own.
class Form1Hooks {
public:
    virtual ~Form1Hooks() = default;
    virtual void confLoad() {}            // load: read the settings file (after the tool is set)
    virtual int getWinVer() { return 0; } // load, last: 2 enables the transparency menu
    virtual void confSave() {}            // shutdown: after the drawing socket is closed
    virtual void closeChatWindow() {}     // shutdown: last
};
