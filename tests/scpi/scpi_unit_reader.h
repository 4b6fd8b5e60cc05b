// Test and benchmark driver: reads one program message unit through the lexer, the header
// matcher and the decoder, the way the interpreter's states 0 to 6 do for a line of one unit,
// and calls the handler. Errors are queued with error(); the message is ended afterwards.
#pragma once

#include "scpi/Arbre.h"
#include "scpi/header.h"
#include "scpi/io.h"
#include "scpi/lex.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <cstring>

struct TUnitResult {
    int error = 0;              // the error queued, 0 for none
    const entry* e = nullptr;   // the last entry matched
    indic ind{};
    int handlerResult = 0;
    bool executed = false;      // the handler was called
    bool empty = false;         // an empty unit
    bool blockPending = false;  // a block header was decoded: its bytes are still to be read
};

class TUnitReader {
public:
    TScpiParamArea area{};
    lex l{};
    pipe_dial requests[kScpiMaxRequests]{};
    int16_t requestCount = 0;
    bool callHandlers = true;

    // With a block header decoded, the message stays bound for the caller to read the block and
    // end it (scpiEndOfMessage); otherwise the unit's line is consumed and the message ended.
    TUnitResult readUnit()
    {
        TUnitResult r;
        scpi_init(&r.ind, 0);
        l.pendingFlag = 0;
        l.block = 0;
        const node* n = tree();
        bool lineRead = false;
        auto token = [&]() {
            int t = lexic(&l);
            lineRead = t == kTokPunct && l.punct == 0;
            return t;
        };
        auto fail = [&](int e) {
            r.error = e;
            error(e);
            if (!lineRead)
                skip(&l);
            scpiEndOfMessage();
            return r;
        };

        int t = token();
        while (t == kTokPunct && l.punct == ' ')
            t = token();
        if (t == kTokPunct && l.punct == 0) {
            r.empty = true;
            scpiEndOfMessage();
            return r;
        }
        if (t == kTokPunct && l.punct == ':')
            t = token();
        for (;;) {
            if (t == kTokFailure)
                return fail(l.failure);
            if (t == kTokPunct)
                return fail(kErrInvalidCharacter);
            if (t != kTokWord)
                return fail(kErrNumericNotAllowed);
            explode(&l, &r.ind);
            r.e = search(n, l.text, &r.ind);
            if (!r.e)
                return fail(kErrUndefinedHeader);
            t = token();
            if (t == kTokFailure)
                return fail(l.failure);
            if (t != kTokPunct)
                return fail(kErrHeaderSeparator);
            if (l.punct != ':')
                break;
            if (!r.e->child)
                return fail(kErrInvalidSeparator);
            n = r.e->child;
            t = token();
        }

        bool params = false;
        if (l.punct == '?') {
            if (!r.e->queryAllowed)
                return fail(kErrInvalidCharacter);
            r.ind.query = 1;
            t = token();
            if (t != kTokPunct)
                return fail(kErrHeaderSeparator);
            if (l.punct == ' ') {
                if (!atUnitEnd())
                    params = true;
                else
                    token();
            }
            if (!params && l.punct != 0 && l.punct != ';')
                return fail(kErrInvalidCharacter);
        } else {
            if (!r.e->setAllowed)
                return fail(kErrInvalidCharacter);
            if (l.punct == ' ') {
                if (!atUnitEnd())
                    params = true;
                else
                    token();
            }
            if (!params) {
                if (l.punct == '"')
                    return fail(kErrHeaderSeparator);
                if (l.punct != 0 && l.punct != ';')
                    return fail(kErrInvalidCharacter);
                const char* letters = r.e->paramLetters;
                if (letters && letters[0] != 'j' && letters[0] != 'R' && letters[0] != '[')
                    return fail(kErrMissingParameter);
            }
        }
        if (params) {
            if (!r.e->paramLetters)
                return fail(kErrParameterNotAllowed);
            int p = get_param(r.e, &r.ind, area.bytes, &l);
            lineRead = l.punct == 0;
            if (p)
                return fail(p);
            if (l.block) {
                r.blockPending = true;
                lineRead = true;
            }
        }
        if (!r.e->handler)
            return fail(kErrUndefinedHeader);
        if (callHandlers) {
            requestCount = 0;
            r.handlerResult = r.e->handler(&r.ind, area.bytes, requests, &requestCount);
            r.executed = true;
            if (r.handlerResult)
                error(r.handlerResult);
        }
        if (r.blockPending)
            return r;
        if (!lineRead)
            skip(&l);
        scpiEndOfMessage();
        return r;
    }

private:
    // After a blank: the look-ahead ends the unit.
    bool atUnitEnd() const
    {
        return l.pendingFlag && (l.nextChar == '\n' || l.nextChar == '\r' || l.nextChar == ';');
    }
};
