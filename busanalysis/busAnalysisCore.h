// Bus-analysis thread: the one reader of the bus box.
#pragma once

// The argument is the live setup database. Returns once busAnalysisCoreStop was called (the
// power-off of a test).
void* busAnalysisCore(void* setup);
void busAnalysisCoreStop();
