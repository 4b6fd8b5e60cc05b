// Discovery and administration responder thread (tSADMd_id).
#pragma once

// No argument. Never returns.
void* ScopeAdmin(void* arg);
