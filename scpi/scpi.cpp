// The SCPI interpreter: one thread reads the remote input, matches headers, decodes parameters,
// runs the handler and hands its requests to the controller one at a time.
#include "scpi/scpi.h"

#include "board/board.h"
#include "core/gest_db.h"
#include "core/process.h"
#include "scpi/Arbre.h"
#include "scpi/header.h"
#include "scpi/io.h"
#include "scpi/lex.h"
#include "scpi/memdat.h"
#include "scpi/params.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>

pthread_mutex_t o_g_synchroScpiMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t o_g_synchroScpiCond = PTHREAD_COND_INITIALIZER;

namespace {

// ---- hand-off state, guarded by o_g_synchroScpiMutex ----------------------------------------
// Each posted request gets a sequence number and each release frees the oldest request not yet
// released; the wait ends only when its own number is reached, so spurious wake-ups and stray
// releases cannot end it early, and the late release of a request whose wait ran out is not
// taken for the release of a later one.
uint32_t g_postedSequence = 0;
uint32_t g_releasedSequence = 0;
// Requests up to this one have had their wait ended early (scpiEndReleaseWaits).
uint32_t g_endedSequence = 0;
int g_releaseCalls = 0;

constexpr int kBoxFullRetryMs = 10;
// A controller that does not release within this bound (a step that waits for an acquisition
// that never comes) ends the command with an error; the session goes on.
constexpr int kDefaultReleaseTimeoutMs = 30000;

std::atomic<int>& releaseTimeoutStorage()
{
    static std::atomic<int>* t = new std::atomic<int>(
        boardSetting("BENCHVIEW_SCPI_RELEASE_TIMEOUT_MS", kDefaultReleaseTimeoutMs, 1, 3600000));
    return *t;
}

bool releasedLocked(uint32_t mine)
{
    return static_cast<int32_t>(g_releasedSequence - mine) >= 0;
}

// ---- interpreter state: static, nothing is allocated per message ----------------------------
enum : int16_t {
    kIdle = 0,        // start of a unit
    kAfterColon = 1,
    kMnemonic = 2,
    kQuery = 3,
    kSet = 4,
    kParameters = 5,
    kExecute = 6,
    kAfterSemicolon = 7,
};

// Never a real punctuation: set before each read, so a failure never judges a stale one.
constexpr uint8_t kNoPunct = 1;

int16_t etat = kIdle;
lex lexeme;
indic ind;
TScpiParamArea mass;
pipe_dial messages[kScpiMaxRequests];
int16_t messageCount = 0;
const node* currentNode = nullptr;
const entry* currentEntry = nullptr;
uint8_t terminator = 0;
int16_t rememberedLevel = 0;
const pipe_dial kClearDeviceError{REQ_SET_PARAM, param::deviceError, 0, 0, 0.0f, 0};

// A common command after ";" is looked up at the root; the path of the unit before it is kept
// here and restored for the unit after it.
bool detour = false;
const node* detourNode = nullptr;
int16_t detourLevel = 0;
indic detourInd;

std::atomic<const node*> g_rootOverride{nullptr};

const node* root()
{
    const node* n = g_rootOverride.load();
    return n ? n : tree();
}

bool isLineEnd(uint8_t c)
{
    return c == '\n' || c == '\r';
}

int nextToken()
{
    lexeme.punct = kNoPunct;
    return lexic(&lexeme);
}

// The look-ahead left by a blank run.
uint8_t pendingChar()
{
    return lexeme.pendingFlag ? lexeme.nextChar : 0;
}

void enterIdle()
{
    scpi_init(&ind, 0);
    currentNode = root();
    currentEntry = nullptr;
    rememberedLevel = 0;
    lexeme.pendingFlag = 0;
    detour = false;
    scpiEndOfMessage();
    etat = kIdle;
}

// Queues e, discards the rest of the line unless its end has been read, and starts again.
// lexeme.punct is 0 only when the last token read was the line end (or a word standing just
// before it, whose look-ahead is dropped on entering the idle state).
void fail(int e, bool discard = true)
{
    error(e);
    if (discard && lexeme.punct != 0)
        skip(&lexeme);
    enterIdle();
}

void postRequests()
{
    int count = messageCount;
    if (count < 0)
        count = 0;
    if (count > kScpiMaxRequests)
        count = kScpiMaxRequests;
    for (int i = 0; i < count; ++i) {
        // A request not released in time ends the command: the ones after it are not posted.
        if (!scpi_SemV(&messages[i])) {
            error(kErrDeviceSpecific);
            return;
        }
    }

    switch (ind.postAction) {
    case 10: {
        const int deviceError = data.deviceError;
        if (deviceError != 0) {
            // Any sender can write the parameter: keep the error number inside the table.
            error(deviceError >= 1 && deviceError <= 37 ? deviceError : kErrExecution);
            pipe_dial clear = kClearDeviceError;
            if (!scpi_SemV(&clear))
                error(kErrDeviceSpecific);
        }
        break;
    }
    case 11:
        memesr(1, kEsrOperationComplete, 1);
        break;
    case 12:
        PutMessage("1\n\r", 3);
        break;
    default:
        break;
    }
}

void stateIdle()
{
    const int token = nextToken();
    switch (token) {
    case kTokPunct:
        if (lexeme.punct == 0)
            enterIdle();  // an empty unit ends the message like any other
        else if (lexeme.punct == ':')
            etat = kAfterColon;
        else if (lexeme.punct != ' ')
            fail(kErrInvalidCharacter);
        break;
    case kTokInteger:
    case kTokReal:
        fail(kErrNumericNotAllowed);
        break;
    case kTokWord:
        etat = kMnemonic;
        break;
    default:
        fail(lexeme.failure);
        break;
    }
}

void stateAfterColon()
{
    const int token = nextToken();
    switch (token) {
    case kTokWord:
        etat = kMnemonic;
        break;
    case kTokPunct:
        fail(kErrInvalidCharacter);
        break;
    case kTokInteger:
    case kTokReal:
        fail(kErrNumericNotAllowed);
        break;
    default:
        fail(lexeme.failure);
        break;
    }
}

void stateMnemonic()
{
    explode(&lexeme, &ind);
    currentEntry = search(currentNode, lexeme.text, &ind);
    if (!currentEntry) {
        fail(kErrUndefinedHeader);
        return;
    }
    const int token = nextToken();
    if (token == kTokFailure) {
        fail(lexeme.failure);
        return;
    }
    if (token != kTokPunct) {
        fail(kErrInvalidCharacter);
        return;
    }
    if (lexeme.punct == ':') {
        if (!currentEntry->child) {
            fail(kErrInvalidSeparator);
            return;
        }
        rememberedLevel = ind.count;
        currentNode = currentEntry->child;
        etat = kAfterColon;
    } else if (lexeme.punct == '?') {
        if (currentEntry->queryAllowed)
            etat = kQuery;
        else
            fail(kErrInvalidCharacter);
    } else if (currentEntry->setAllowed) {
        etat = kSet;
    } else {
        fail(kErrInvalidCharacter);
    }
}

void stateQuery()
{
    ind.query = 1;
    const int token = nextToken();
    switch (token) {
    case kTokPunct:
        if (lexeme.punct == ' ') {
            // Carriage return ends the input like line feed.
            const uint8_t next = pendingChar();
            if (!isLineEnd(next) && next != ';') {
                etat = kParameters;
            } else {
                nextToken();
                terminator = lexeme.punct;
                etat = kExecute;
            }
        } else if (lexeme.punct == 0 || lexeme.punct == ';') {
            terminator = lexeme.punct;
            etat = kExecute;
        } else {
            fail(kErrInvalidCharacter);
        }
        break;
    case kTokInteger:
    case kTokReal:
    case kTokWord:
        fail(kErrHeaderSeparator);
        break;
    default:
        fail(lexeme.failure);
        break;
    }
}

// The punctuation that followed the header is in hand.
void stateSet()
{
    for (;;) {
        const uint8_t p = lexeme.punct;
        if (p == ' ') {
            const uint8_t next = pendingChar();
            if (isLineEnd(next) || next == ';') {
                nextToken();
                continue;
            }
            etat = kParameters;
            return;
        }
        if (p == 0 || p == ';') {
            const char* letters = currentEntry->paramLetters;
            if (!letters || !*letters || letters[0] == 'j' || letters[0] == 'R' || letters[0] == '[') {
                terminator = p;
                etat = kExecute;
            } else {
                fail(kErrMissingParameter);
            }
            return;
        }
        fail(p == '"' ? kErrHeaderSeparator : kErrInvalidCharacter);
        return;
    }
}

void stateParameters()
{
    const char* letters = currentEntry->paramLetters;
    if (!letters || !*letters) {
        fail(kErrParameterNotAllowed);
        return;
    }
    lexeme.punct = kNoPunct;
    const int r = get_param(currentEntry, &ind, mass.bytes, &lexeme);
    if (r != 0) {
        fail(r);
        return;
    }
    terminator = lexeme.punct;
    etat = kExecute;
}

void stateExecute()
{
    if (!currentEntry->handler) {
        fail(kErrUndefinedHeader);
        return;
    }
    messageCount = 0;
    const int r = currentEntry->handler(&ind, mass.bytes, messages, &messageCount);
    if (r != 0) {
        fail(r, terminator == ';');
        return;
    }
    postRequests();
    if (terminator == 0) {
        enterIdle();
    } else if (terminator == ';') {
        if (detour) {
            detour = false;
            currentNode = detourNode;
            rememberedLevel = detourLevel;
            ind = detourInd;
        }
        etat = kAfterSemicolon;
    } else {
        fail(kErrInvalidSeparator);
    }
}

void stateAfterSemicolon()
{
    const int token = nextToken();
    switch (token) {
    case kTokPunct:
        if (lexeme.punct == ' ')
            break;
        if (lexeme.punct == ':') {
            scpi_init(&ind, 0);
            currentNode = root();
            rememberedLevel = 0;
            etat = kAfterColon;
        } else {
            // ";" just before the line end lands here too: -101, the line is already over.
            fail(kErrInvalidCharacter);
        }
        break;
    case kTokInteger:
    case kTokReal:
        fail(kErrNumericNotAllowed);
        break;
    case kTokWord:
        if (lexeme.text[0] == '*') {
            // Common commands anywhere: searched at the root, the path of the line kept.
            detour = true;
            detourNode = currentNode;
            detourLevel = rememberedLevel;
            detourInd = ind;
            scpi_init(&ind, 0);
            currentNode = root();
        } else {
            scpi_init(&ind, rememberedLevel);
        }
        etat = kMnemonic;
        break;
    default:
        fail(lexeme.failure);
        break;
    }
}

} // namespace

bool scpi_SemV(pipe_dial* request)
{
    // The interpreter's own identity: SCPI_id may not be written yet when this thread starts.
    request->senderId = senderValue(pthread_self());
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    const uint32_t mine = ++g_postedSequence;
    pthread_mutex_unlock(&o_g_synchroScpiMutex);

    // A full box drops the record: post again until it is queued, never wait for a lost one.
    while (o_g_consMessageBox.send(request) == -1)
        pauseMs(kBoxFullRetryMs);

    const timespec deadline = scpiDeadlineIn(scpiReleaseTimeoutMs());
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    bool released = releasedLocked(mine);
    while (!released && static_cast<int32_t>(g_endedSequence - mine) < 0) {
        const bool expired =
            pthread_cond_clockwait(&o_g_synchroScpiCond, &o_g_synchroScpiMutex, CLOCK_MONOTONIC, &deadline) == ETIMEDOUT;
        released = releasedLocked(mine);
        if (expired)
            break;
    }
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
    return released;
}

void scpi_SemP()
{
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    ++g_releaseCalls;
    // Nothing outstanding: a stray release must not free a later request.
    if (g_releasedSequence != g_postedSequence) {
        ++g_releasedSequence;
        pthread_cond_broadcast(&o_g_synchroScpiCond);
    }
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
}

void scpiEndReleaseWaits()
{
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    g_endedSequence = g_postedSequence;
    pthread_cond_broadcast(&o_g_synchroScpiCond);
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
}

int scpiReleaseTimeoutMs()
{
    return releaseTimeoutStorage().load();
}

void setScpiReleaseTimeoutMs(int milliseconds)
{
    releaseTimeoutStorage() = milliseconds < 1 ? 1 : milliseconds;
}

void setScpiTree(const node* n)
{
    g_rootOverride.store(n);
}

int scpiReleaseCalls()
{
    pthread_mutex_lock(&o_g_synchroScpiMutex);
    const int n = g_releaseCalls;
    pthread_mutex_unlock(&o_g_synchroScpiMutex);
    return n;
}

void* scpi(void*)
{
    // The controller starts it without a name; tools and tests look for this one.
    pthread_setname_np(pthread_self(), "scpi");
    meminit();
    memesr(1, kEsrPowerOn, 1);
    enterIdle();
    for (;;) {
        switch (etat) {
        case kIdle:
            stateIdle();
            break;
        case kAfterColon:
            stateAfterColon();
            break;
        case kMnemonic:
            stateMnemonic();
            break;
        case kQuery:
            stateQuery();
            break;
        case kSet:
            stateSet();
            break;
        case kParameters:
            stateParameters();
            break;
        case kExecute:
            stateExecute();
            break;
        case kAfterSemicolon:
            stateAfterSemicolon();
            break;
        default:
            enterIdle();
            break;
        }
    }
    return nullptr;
}
