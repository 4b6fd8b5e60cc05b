// The controller thread: the only thread that changes the setup; applies every request.
#pragma once

// Thread function of the controller ("COMM"), started by main.
void* command(void* unused);
