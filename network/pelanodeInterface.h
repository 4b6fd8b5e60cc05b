// Remote-client web-service thread (tAPPLd_id).
#pragma once

// No argument. Never returns.
void* pelanodeInterface(void* arg);
