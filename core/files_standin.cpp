// Stand-in until the trace, mask, function, harmonic and recorder files exist: records the call
// and reports the result a test set (19 for saves, 17 for recalls by default).
#include "core/files.h"
#include "core/files_standin.h"

TFilesStandin& filesStandin()
{
    static auto* s = new TFilesStandin();
    return *s;
}

void resetFilesStandin()
{
    filesStandin() = TFilesStandin();
}

namespace {
int record(const char* function, const char* name, const char* comment, int result)
{
    filesStandin().calls.push_back({function, name ? name : "(null)", comment ? comment : "(null)"});
    return result;
}
} // namespace

int TraceSaveAll(database*, const char* name, const char* comment)
{
    return record("TraceSaveAll", name, comment, filesStandin().traceSaveResult);
}

int PassFailMaskSave(database*, const char* name, const char* comment)
{
    return record("PassFailMaskSave", name, comment, filesStandin().maskSaveResult);
}

int FunctionSaveAll(database*, const char* name, const char* comment)
{
    return record("FunctionSaveAll", name, comment, filesStandin().functionSaveResult);
}

int HarmonicSaveAll(database*, const char* name, const char* comment)
{
    return record("HarmonicSaveAll", name, comment, filesStandin().harmonicSaveResult);
}

int TraceRecallAll(database*, const char* path)
{
    return record("TraceRecallAll", path, "", filesStandin().traceRecallResult);
}

int FunctionRecallAll(database*, const char* path)
{
    return record("FunctionRecallAll", path, "", filesStandin().functionRecallResult);
}

int LoggerRecallAll(database*, const char* path)
{
    return record("LoggerRecallAll", path, "", filesStandin().loggerRecallResult);
}
