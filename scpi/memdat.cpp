#include "scpi/memdat.h"

const char* const MessageErreur[kScpiErrorCount] = {
    "0,No error \n\r",
    "-100,Command error\n\r",
    "-101,Invalid character\n\r",
    "-102,Syntax error\n\r",
    "-103,Invalid separator\n\r",
    "-104,Data type error\n\r",
    "-108,Parameter not allowed\n\r",
    "-109,Missing parameter\n\r",
    "-111,Header separator error\n\r",
    "-112,Program mnemonic too long\n\r",
    "-113,Undefined header\n\r",
    "-114,Header suffix out of range\n\r",
    "-121,Invalid character in number\n\r",
    "-128,Numeric data not allowed\n\r",
    "-131,Invalid suffix\n\r",
    "-138,Suffix not allowed\n\r",
    "-141,Invalid character data\n\r",
    "-148,Character data not allowed\n\r",
    "-151,Invalid string data\n\r",
    "-154,String data too long\n\r",
    "-171,Invalid expression\n\r",
    "-173,Undefined math expression\n\r",
    "-200,Execution error\n\r",
    "-213,Init ignored\n\r",
    "-221,Settings conflict\n\r",
    "-222,Data out of range\n\r",
    "-224,Illegal parameter value\n\r",
    "-231,Data questionable\n\r",
    "-232,Invalid format\n\r",
    "-233,Invalid version\n\r",
    "-253,Corrupt media\n\r",
    "-256,File name not found\n\r",
    "-257,File name error\n\r",
    "-300,Device-specific error\n\r",
    "-321,Out of memory\n\r",
    "-350,Queue overflow\n\r",
    "-360,Communication error\n\r",
    "-400,Query error\n\r",
};

namespace {

constexpr int kQueueSlots = 21;  // one slot stays free: 20 errors fit

// Plain statics of the interpreter thread.
int32_t pilerr[kQueueSlots];
uint8_t IndiceEcriture = 0;  // last written slot
uint8_t IndiceLecture = 0;   // last read slot
unsigned char esr = 0;
unsigned char mesr = 255;
unsigned char sbr = 0;
unsigned char msbr = 255;
unsigned char format = 0;
unsigned char formdif = 0;
uint32_t absc1 = 0;
uint32_t absc2 = 99999;
uint32_t pas = 1;

void updateEventSummary()
{
    if (esr & mesr)
        memsbr(1, kStbEventSummary, 1);
    else
        memsbr(1, static_cast<unsigned char>(~kStbEventSummary), 0);
}

} // namespace

int memerr(char op, int value)
{
    switch (op) {
    case 1: {
        uint8_t next = static_cast<uint8_t>((IndiceEcriture + 1) % kQueueSlots);
        if (next == IndiceLecture) {
            pilerr[IndiceEcriture] = kErrQueueOverflow;  // the newest entry reports the loss
        } else {
            IndiceEcriture = next;
            pilerr[IndiceEcriture] = value;
        }
        return 0;
    }
    case 2:
        if (IndiceLecture == IndiceEcriture)
            return 0;
        IndiceLecture = static_cast<uint8_t>((IndiceLecture + 1) % kQueueSlots);
        return pilerr[IndiceLecture];
    default:
        IndiceEcriture = 0;
        IndiceLecture = 0;
        return 0;
    }
}

void error(int n)
{
    memerr(1, n);
    unsigned char bit = 0;
    if (n >= 1 && n <= 21)
        bit = kEsrCommandError;
    else if (n >= 22 && n <= 32)
        bit = kEsrExecutionError;
    else if (n >= 33 && n <= 36)
        bit = kEsrDeviceError;
    else if (n == 37)
        bit = kEsrQueryError;
    if (bit)
        memesr(1, bit, 1);
}

unsigned char memesr(char op, unsigned char bits, unsigned char set)
{
    unsigned char result;
    switch (op) {
    case 0:
        mesr = 255;
        esr = 0;
        memsbr(1, static_cast<unsigned char>(~kStbEventSummary), 0);
        return 0;
    case 1:
        esr = set ? static_cast<unsigned char>(esr | bits) : static_cast<unsigned char>(esr & bits);
        result = esr;
        break;
    case 5:
        mesr = set;
        result = mesr;
        break;
    case 6:
        result = mesr;
        break;
    default:
        result = esr;
        esr = 0;
        memsbr(1, static_cast<unsigned char>(~kStbEventSummary), 0);
        return result;
    }
    updateEventSummary();
    return result;
}

unsigned char memsbr(char op, unsigned char bits, unsigned char set)
{
    unsigned char result;
    switch (op) {
    case 0:
        msbr = 255;
        sbr = 0;
        return 0;
    case 1:
        sbr = set ? static_cast<unsigned char>(sbr | bits) : static_cast<unsigned char>(sbr & bits);
        break;
    case 5:
        msbr = set;
        break;
    default:
        break;
    }
    if (msbr & sbr & 0xBF)
        sbr = static_cast<unsigned char>(sbr | kStbRequestService);
    else
        sbr = static_cast<unsigned char>(sbr & ~kStbRequestService);
    result = (op == 5 || op == 6) ? msbr : sbr;
    return result;
}

void meminit()
{
    memerr(0, 0);
    memesr(0, 0, 0);
    memsbr(0, 0, 0);
    format = 0;
    formdif = 0;
    absc1 = 0;
    absc2 = 99999;
    pas = 1;
}

unsigned char memform(char op, unsigned char value)
{
    if (op == 1)
        format = value;
    return format;
}

unsigned char memdint(char op, unsigned char value)
{
    if (op == 1)
        formdif = value;
    return formdif;
}

uint32_t memabsc1(char op, uint32_t value)
{
    if (op == 0)
        absc1 = 0;
    else if (op == 1)
        absc1 = value;
    return absc1;
}

uint32_t memabsc2(char op, uint32_t value)
{
    if (op == 0)
        absc2 = 99999;
    else if (op == 1)
        absc2 = value;
    return absc2;
}

uint32_t mempas(char op, uint32_t value)
{
    if (op == 0)
        pas = 1;
    else if (op == 1)
        pas = value;
    return pas;
}

const char* scpiErrorText(int n)
{
    if (n < 0 || n >= kScpiErrorCount)
        n = kErrExecution;
    return MessageErreur[n];
}
