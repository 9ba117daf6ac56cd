#pragma once

#include <QString>

// Every test program keeps the program's state (the batch journal, the record
// of saved videos) in a folder of its own, made empty at its start and
// removed at its end, never in the state folder of whoever runs the tests.
namespace isolatedstate {

// The folder XDG_STATE_HOME points at.
QString folder();
// Empties it, for a window that must start as a first one does.
void clear();

} // namespace isolatedstate
