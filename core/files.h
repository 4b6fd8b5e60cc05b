// Trace, mask, function, harmonic and recorder files. db is always the live setup.
#pragma once

struct database;

int TraceSaveAll(database* db, const char* name, const char* comment);
int PassFailMaskSave(database* db, const char* name, const char* comment);
int FunctionSaveAll(database* db, const char* name, const char* comment);
// name is never null.
int HarmonicSaveAll(database* db, const char* name, const char* comment);
int TraceRecallAll(database* db, const char* path);
int FunctionRecallAll(database* db, const char* path);
int LoggerRecallAll(database* db, const char* path);
