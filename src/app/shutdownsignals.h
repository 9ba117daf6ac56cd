#pragma once

// Ends the event loop on SIGTERM and on SIGHUP, which a logout sends, so that
// the window goes as on a close: its children stopped, their partial files
// kept, the batch's unsaved addresses written to its journal.
class ShutdownSignals
{
public:
    // Once the application object exists.
    static void install();
};
