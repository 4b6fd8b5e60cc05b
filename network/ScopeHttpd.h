// HTTP server thread (tWEBSd_id).
#pragma once

// No argument. Never returns.
void* ScopeHttpd(void* arg);
