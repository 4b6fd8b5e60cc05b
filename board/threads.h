// How startThread (board/process.h) schedules the threads it starts. Board build: the
// round-robin policy and the priority share are in force (explicit scheduling); when the system
// refuses them the thread starts with the default attributes and one line on standard error
// says so, once per process. Simulated board: the inherited scheduling stays, since real-time
// threads would starve a desktop.
#pragma once

bool explicitThreadScheduling();
// Tests switch it and put it back; a switch lets the next refusal be said again.
void setExplicitThreadScheduling(bool on);
