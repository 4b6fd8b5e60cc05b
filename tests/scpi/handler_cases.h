// Handlers executed in process one unit at a time: the queued error or the handler's result, the
// requests it produced and the reply it wrote, checked from tables of cases.
#pragma once

#include "core/gest_db.h"
#include "scpi/handler.h"
#include "scpi/memdat.h"
#include "tests/support/requestboxes.h"
#include "tests/scpi/scpi_unit_reader.h"
#include "tests/support/linkedtraces.h"
#include "tests/support/simboardtest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <initializer_list>
#include <string>

struct Outcome {
    int error = 0;         // syntax error or handler result
    std::string requests;  // "kind:code=value" each, blank separated
    std::string reply;
};

using Prepare = std::function<void()>;

class ScpiHandlerTest : public SimBoardTest {
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        meminit();
    }
    void TearDown() override
    {
        drainRequestBoxes();
        SimBoardTest::TearDown();
    }

    // Settings carry no second value; requests with one (files) say so in checkAux.
    static Outcome run(const std::string& line, bool checkAux = true)
    {
        TScpiMemorySession session;
        session.send(line + "\n");
        TUnitReader reader;
        TUnitResult r = reader.readUnit();
        Outcome o;
        o.error = r.error ? r.error : r.handlerResult;
        for (int i = 0; i < reader.requestCount; ++i) {
            const pipe_dial& q = reader.requests[i];
            if (checkAux) {
                EXPECT_EQ(q.auxValue, 0) << line;
                EXPECT_EQ(q.floatValue, 0.0f) << line;
            }
            char buf[64];
            std::snprintf(buf, sizeof buf, "%s%u:%d=%lld", o.requests.empty() ? "" : " ", q.kind, q.code,
                          static_cast<long long>(q.intValue));
            o.requests += buf;
        }
        o.reply = session.takeReplies();
        return o;
    }

    // Puts the live setup back before each case.
    virtual void reset() { data = init_par; }

    struct SetCase {
        Prepare prepare;
        const char* line;
        int error;
        const char* requests;
    };

    void checkSets(std::initializer_list<SetCase> cases)
    {
        for (const SetCase& c : cases) {
            reset();
            if (c.prepare)
                c.prepare();
            const Outcome o = run(c.line);
            EXPECT_EQ(o.error, c.error) << c.line;
            EXPECT_EQ(o.requests, c.requests) << c.line;
            EXPECT_EQ(o.reply, "") << c.line;
        }
    }

    struct QueryCase {
        Prepare prepare;
        const char* line;
        const char* reply;  // without "\n\r"; null: the query fails with error
        int error;
    };

    void checkQueries(std::initializer_list<QueryCase> cases)
    {
        for (const QueryCase& c : cases) {
            reset();
            if (c.prepare)
                c.prepare();
            const Outcome o = run(c.line);
            EXPECT_EQ(o.requests, "") << c.line;
            if (c.reply) {
                EXPECT_EQ(o.error, 0) << c.line;
                EXPECT_EQ(o.reply, std::string(c.reply) + "\n\r") << c.line;
            } else {
                EXPECT_EQ(o.error, c.error) << c.line;
                EXPECT_EQ(o.reply, "") << c.line;
            }
        }
    }

private:
    // Destroyed after every member of a derived fixture.
    TRestoredLinks restoredLinks_;
};
