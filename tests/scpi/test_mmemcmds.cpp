// MMEMory handlers executed in process: a name from the remote side is taken whole or refused,
// never cut short at a NUL or carrying control characters into the media.
#include "core/gest_db.h"
#include "scpi/memdat.h"
#include "scpi/mmem.h"
#include "tests/scpi/handler_cases.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

class MassMemoryCommands : public ScpiHandlerTest {
protected:
    void SetUp() override
    {
        ScpiHandlerTest::SetUp();
        reset();
    }
    void reset() override
    {
        data = init_par;
        data.instrumentMode = 16;
        data.passFailOn = 1;
    }
    std::string media(const std::string& name) const { return hostPath("/media/user") + "/" + name; }
    static std::string read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

// The files a cut name would reach exist already: none of them may change. The decoder refuses
// such a text as it reads it (invalid string data), so no handler ever sees it; the name check
// refuses the characters too, for names that reach it another way.
TEST_F(MassMemoryCommands, NamesCutByANulOrHoldingControlCharactersAreRefused)
{
    std::ofstream(media("zqh.cfg")) << "old setup";
    std::ofstream(media("zqh")) << "old data";
    std::ofstream(media("zqh.msk")) << "old mask";
    using namespace std::string_literals;
    for (const std::string& name : {"zqh\0nul2.cfg"s, "zqh\tx.cfg"s, "zqh\x1b.cfg"s, "zqh\x7f.cfg"s}) {
        for (const std::string& line :
             {"MMEM:STOR:STAT \"" + name + "\"", "MMEM:DATA \"" + name + "\",#15HELLO",
              "MMEM:DEL \"" + name + "\"", "MMEM:LOAD:STAT \"" + name + "\"", "MMEM:STOR:TRAC \"" + name + "\"",
              "MMEM:DATA? \"" + name + "\"", "PASSFAIL:LOAD \"" + name + "\"", "PASSFAIL:SAVE \"" + name + "\"",
              "MMEM:CDIR \"" + name + "\""}) {
            SCOPED_TRACE(testing::PrintToString(line));
            reset();
            const Outcome o = run(line, false);
            EXPECT_EQ(o.error, kErrInvalidString);
            EXPECT_EQ(o.requests, "");
        }
    }
    EXPECT_EQ(read(media("zqh.cfg")), "old setup");
    EXPECT_EQ(read(media("zqh")), "old data");
    EXPECT_EQ(read(media("zqh.msk")), "old mask");
    EXPECT_STREQ(o_g_currentDirectory, "/");
    for (const char* name : {"zqh\tx.cfg", "zqh\x1b.cfg", "zqh\x7f.cfg", "\x01"})
        EXPECT_EQ(isFileNameOK(name, nullptr, nullptr), kErrFileName) << testing::PrintToString(name);
    EXPECT_EQ(isFileNameOK("zqh.cfg", nullptr, nullptr), 0);
}

} // namespace
