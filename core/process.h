// The process services live in board/ (the companion programs use them without the core).
#pragma once

#include "board/process.h"
