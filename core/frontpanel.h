// Front-panel key thread (TRAD_id): turns key and probe-key events into requests.
#pragma once

// No argument. Never returns.
void* FrontPanel(void* arg);
