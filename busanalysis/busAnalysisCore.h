// Bus-analysis thread: the one reader of the bus box.
#pragma once

// The argument is the live setup database. Never returns.
void* busAnalysisCore(void* setup);
