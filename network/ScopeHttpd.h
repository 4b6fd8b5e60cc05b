// HTTP server thread (tWEBSd_id): declared with the rest of the server.
#pragma once

#include "network/serverHTTP.h"
