// HCOPy and HELP handlers, and the built-in syntax summary that HELP answers with.
#include "scpi/fct.h"
#include "scpi/help.h"

#include "core/gest_db.h"
#include "scpi/handler.h"
#include "scpi/io.h"
#include "scpi/memdat.h"
#include "scpi/mmem.h"
#include "scpi/params.h"

#include <cstdint>
#include <cstring>

// Top-level keywords read down three columns at character positions 0, 23 and 48.
const char SCPIDirectoryList[] =
    "Type 'HELP directory-entry' to display the list of the commands\n\r"
    " available in that directory.\n\r"
    "'directory-entry' can be one of the following keywords:\n\r"
    "\n\r"
    "*                      FORMat                   PASSFAIL\n\r"
    "ABORt                  HCOPy                    SENSe\n\r"
    "ARM                    HELP                     SYSTem\n\r"
    "AUTOSet                INITiate                 TRACe\n\r"
    "CALCulate              INPut                    TRIGger\n\r"
    "DEVice                 MEASure\n\r"
    "DISPlay                MMEMory\n\r";

// One text per keyword of the HELP table, in its order; each line one command form.
const char* const SCPICommandList[kScpiHelpKeywords] = {
    // *
    "*CLS\n\r"
    "*ESE\n\r"
    "*ESE?\n\r"
    "*ESR?\n\r"
    "*IDN?\n\r"
    "*OPC\n\r"
    "*OPC?\n\r"
    "*RST\n\r"
    "*SRE\n\r"
    "*SRE?\n\r"
    "*STB?\n\r"
    "*TRG\n\r"
    "*TST?\n\r"
    "*WAI\n\r",
    // ABORt
    "ABORt\n\r",
    // ARM
    "ARM[:SEQuence{[3]|4}]:COUPling <AC|DC>\n\r"
    "ARM[:SEQuence{[3]|4}]:COUPling?\n\r"
    "ARM[:SEQuence{[3]|4}]:FILTer:HPASs[:STATe] <1|0|ON|OFF>\n\r"
    "ARM[:SEQuence{[3]|4}]:FILTer:HPASs[:STATe]?\n\r"
    "ARM[:SEQuence{[3]|4}]:FILTer:LPASs[:STATe] <1|0|ON|OFF>\n\r"
    "ARM[:SEQuence{[3]|4}]:FILTer:LPASs[:STATe]?\n\r"
    "ARM[:SEQuence{[3]|4}]:HYSTeresis <0|1>\n\r"
    "ARM[:SEQuence{[3]|4}]:HYSTeresis?\n\r"
    "ARM[:SEQuence{[3]|4}]:LEVel <level|MAX|MIN|UP|DOWN>\n\r"
    "ARM[:SEQuence{[3]|4}]:LEVel?\n\r"
    "ARM[:SEQuence{[3]|4}]:SLOPe <POSitive|NEGative>\n\r"
    "ARM[:SEQuence{[3]|4}]:SLOPe?\n\r"
    "ARM[:SEQuence{[3]|4}]:SOURce <INTernal{1|2|3|4}>\n\r"
    "ARM[:SEQuence{[3]|4}]:SOURce?\n\r",
    // AUTOSet
    "AUTOSet:EXEcute\n\r",
    // CALCulate
    "CALCulate:MATH{[1]|2|3|4}[:EXPRession][:DEFine] <(fct)>\n\r"
    "CALCulate:MATH{[1]|2|3|4}[:EXPRession][:DEFine]?\n\r"
    "CALCulate:MATH{[1]|2|3|4}[:EXPRession]:DELete\n\r"
    "CALCulate:TRANsform:FREQuency[:STATe] <1|0|ON|OFF>\n\r"
    "CALCulate:TRANsform:FREQuency[:STATe]?\n\r"
    "CALCulate:TRANsform:FREQuency:WINDow <RECTangular|HAMMing|HANNing|BLACkman|FLATtop>\n\r"
    "CALCulate:TRANsform:FREQuency:WINDow?\n\r",
    // DEVice
    "DEVice:MODe <HOME|SCOPe|ANALYSer|LOGger|MULTimeter>\n\r"
    "DEVice:MODe?\n\r",
    // DISPlay
    "DISPlay:BRIGhtness <brightness>\n\r"
    "DISPlay[:WINDow]:CURSor:REFerence <INT{1|2|3|4}>\n\r"
    "DISPlay[:WINDow]:CURSor:REFerence?\n\r"
    "DISPlay[:WINDow]:CURSor:STATe <1|0|ON|OFF>\n\r"
    "DISPlay[:WINDow]:CURSor:STATe?\n\r"
    "DISPlay[:WINDow]:CURSor:TIME{[1]|2|3}:POSition <position|MAX|MIN>\n\r"
    "DISPlay[:WINDow]:CURSor:TIME{[1]|2|3}:POSition?\n\r"
    "DISPlay[:WINDow]:CURSor:TIME{[1]|2|3}:YPOSition?\n\r"
    "DISPlay[:WINDow]:CURSor:VOLT{[1]|2}:POSition?\n\r"
    "DISPlay[:WINDow]:TRACe:FORMat <A|XY>\n\r"
    "DISPlay[:WINDow]:TRACe:FORMat?\n\r"
    "DISPlay[:WINDow]:TRACe:MODE <NORMal|ENVelope|ALL|ACCumulate>\n\r"
    "DISPlay[:WINDow]:TRACe:MODE?\n\r"
    "DISPlay[:WINDow]:TRACe:STATe{[1]|2|3|4} <1|0|ON|OFF>\n\r"
    "DISPlay[:WINDow]:TRACe:STATe{[1]|2|3|4}?\n\r"
    "DISPlay[:WINDow]:TRACe:X[:SCALe]:PDIVision <scale|MAX|MIN|UP|DOWN>\n\r"
    "DISPlay[:WINDow]:TRACe:X[:SCALe]:PDIVision?\n\r"
    "DISPlay[:WINDow]:TRACe:XY:XDEFine <INT{1|2|3|4}>\n\r"
    "DISPlay[:WINDow]:TRACe:XY:XDEFine?\n\r"
    "DISPlay[:WINDow]:TRACe:XY:YDEFine <INT{1|2|3|4}>\n\r"
    "DISPlay[:WINDow]:TRACe:XY:YDEFine?\n\r"
    "DISPlay[:WINDow]:TRACe:Y:LABel{[1]|2|3|4} <\"label\">\n\r"
    "DISPlay[:WINDow]:TRACe:Y:LABel{[1]|2|3|4}?\n\r"
    "DISPlay[:WINDow]:TRACe:Y:SPACing <LOGarithmic|LINear>\n\r"
    "DISPlay[:WINDow]:TRACe:Y:SPACing?\n\r"
    "DISPlay[:WINDow]:TRACe:Y[:SCALe]:PDIVision{[1]|2|3|4} <scale|MAX|MIN>\n\r"
    "DISPlay[:WINDow]:TRACe:Y[:SCALe]:PDIVision{[1]|2|3|4}?\n\r",
    // FORMat
    "FORMat:DINTerchange <1|0|ON|OFF>\n\r"
    "FORMat:DINTerchange?\n\r"
    "FORMat[:DATA] <INTeger|ASCii|HEXadecimal|BINary>\n\r"
    "FORMat[:DATA]?\n\r",
    // HCOPy
    "HCOPy:SDUMp[:IMMediate] [<file.png>]\n\r",
    // HELP
    "HELP[?] <directory-entry>\n\r"
    "HELP[?]\n\r",
    // INITiate
    "INITiate:CONTinuous:NAME {EDGE|PULse|DELay|EVENt|TV|RECorder|CAPTure},<ON|OFF|1|0>\n\r"
    "INITiate[:IMMediate]:NAME {EDGE|PULse|DELay|EVENt|TV|RECorder|CAPTure}\n\r",
    // INPut
    "INPut{[1]|2|3|4}:COUPling <AC|DC|GROund>\n\r"
    "INPut{[1]|2|3|4}:COUPling?\n\r"
    "INPut{[1]|2|3|4}:DMM:BANDwidth:RESolution <bandwidth>\n\r"
    "INPut{[1]|2|3|4}:DMM:BANDwidth:RESolution?\n\r"
    "INPut{[1]|2|3|4}:DMM:COUPling <AC|DC|ACDC>\n\r"
    "INPut{[1]|2|3|4}:DMM:COUPling?\n\r",
    // MEASure
    "MEASure:AC? <INT{1|2|3|4}>,<CYCle|INTerval>\n\r"
    "MEASure:AMPLitude? <INT{1|2|3|4}>\n\r"
    "MEASure:CURSor:DTIME?\n\r"
    "MEASure:CURSor:DVOLT?\n\r"
    "MEASure:DMM? <INT{1|2|3|4|5}>\n\r"
    "MEASure:FALL:OVERshoot? <INT{1|2|3|4}>\n\r"
    "MEASure:FALL:TIME? <INT{1|2|3|4}>\n\r"
    "MEASure:FREQuency? <INT{1|2|3|4}>\n\r"
    "MEASure:FTIME? <INT{1|2|3|4}>\n\r"
    "MEASure:HIGH? <INT{1|2|3|4}>\n\r"
    "MEASure:LOW? <INT{1|2|3|4}>\n\r"
    "MEASure:MANual:PHASe?\n\r"
    "MEASure:MAXimum? <INT{1|2|3|4}>\n\r"
    "MEASure:MINimum? <INT{1|2|3|4}>\n\r"
    "MEASure:NWIDth? <INT{1|2|3|4}>\n\r"
    "MEASure:PDUTycycle? <INT{1|2|3|4}>\n\r"
    "MEASure:PERiod? <INT{1|2|3|4}>\n\r"
    "MEASure:PTPeak? <INT{1|2|3|4}>\n\r"
    "MEASure:PULse:COUNt? <INT{1|2|3|4}>\n\r"
    "MEASure:PWIDth? <INT{1|2|3|4}>\n\r"
    "MEASure:RISE:OVERshoot? <INT{1|2|3|4}>\n\r"
    "MEASure:RISE:TIME? <INT{1|2|3|4}>\n\r"
    "MEASure:RTIME? <INT{1|2|3|4}>\n\r"
    "MEASure:SUM? <INT{1|2|3|4}>\n\r"
    "MEASure:VOLT[:DC]? <INT{1|2|3|4}>\n\r",
    // MMEMory
    "MMEMory:CATalog? [<LOCAL|SDCARD>]\n\r"
    "MMEMory:CDIRectory <\"directory_name\">\n\r"
    "MMEMory:CDIRectory?\n\r"
    "MMEMory:DATA <\"file\">,<block>\n\r"
    "MMEMory:DATA? <\"file\">\n\r"
    "MMEMory:DELete <\"file\">[,<LOCAL|SDCARD>]\n\r"
    "MMEMory:LOAD:MACRo <INT{1|2|3|4}>,<\"file.fct\">[,<LOCAL|SDCARD>]\n\r"
    "MMEMory:LOAD:STATe <\"file.cfg\">[,<LOCAL|SDCARD>]\n\r"
    "MMEMory:LOAD:TRACe <\"file.trc\">[,<LOCAL|SDCARD>]\n\r"
    "MMEMory:MSIS [<LOCAL|SDCARD>\n\r"
    "MMEMory:MSIS?\n\r"
    "MMEMory:STORe:MACRo <\"file.fct\">[,<LOCAL|SDCARD>]\n\r"
    "MMEMory:STORe:STATe <\"file.cfg\">[,<LOCAL|SDCARD>]\n\r"
    "MMEMory:STORe:TRACe <\"file.trc\">[,<LOCAL|SDCARD>]\n\r",
    // PASSFAIL
    "PASSFAIL:BEEP[?] <1|0|ON|OFF>\n\r"
    "PASSFAIL:CONTrol[?] <1|0|ON|OFF>\n\r"
    "PASSFAIL:COUNT:ALL?\n\r"
    "PASSFAIL:COUNT:FAIL?\n\r"
    "PASSFAIL:COUNT:PASS?\n\r"
    "PASSFAIL:DISPlay[?] <ALL|PASS|FAIL>\n\r"
    "PASSFAIL:LOAD <\"file.msk\">[,<LOCAL|SDCARD>]\n\r"
    "PASSFAIL:SAVE <\"file.msk\">[,<LOCAL|SDCARDsave >]\n\r"
    "PASSFAIL:SOURCE[?] <INT1|INT2|INT3|INT4>\n\r"
    "PASSFAIL:STATE[?] <1|0|ON|OFF>\n\r"
    "PASSFAIL:XMASK[?] <xmask>\n\r"
    "PASSFAIL:YMASK[?] <ymask>\n\r",
    // SENSe
    "[SENSe]:AVERage:COUNt <0|2|4|16|64|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:AVERage:COUNt?\n\r"
    "[SENSe]:AVERage:TYPE <NORMal|ENVelope>\n\r"
    "[SENSe]:AVERage:TYPE?\n\r"
    "[SENSe]:AVERage[:STATe] <1|0|ON|OFF>\n\r"
    "[SENSe]:AVERage[:STATe]?\n\r"
    "[SENSe]:BANDwidth{[1]|2|3|4}[:RESolution] <bandwidth>\n\r"
    "[SENSe]:BANDwidth{[1]|2|3|4}[:RESolution]?\n\r"
    "[SENSe]:FUNCtion[1] <VOLTage|RESistance|CONTinuity|CAPAcitor|DIODe|PT100|TCK|POWer|POW3a|POW3b|POW3c|MONITOR>\n\r"
    "[SENSe]:FUNCtion[1]?\n\r"
    "[SENSe]:RANGe{[1]|2|3|4}:AUTO <1|0|ON|OFF>\n\r"
    "[SENSe]:RANGe{[1]|2|3|4}:AUTO?\n\r"
    "[SENSe]:RANGe[1]:CAPA <range|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:RANGe[1]:CAPA?\n\r"
    "[SENSe]:RANGe[1]:OHM <range|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:RANGe[1]:OHM?\n\r"
    "[SENSe]:RANGe{[1]|2|3|4}:VOLT <range|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:RANGe{[1]|2|3|4}:VOLT?\n\r"
    "[SENSe]:SWEep:OFFSet:TIME <time|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:SWEep:OFFSet:TIME?\n\r"
    "[SENSe]:VOLTage{[1]|2|3|4}[:DC]:RANGe:OFFSet <offset|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:VOLTage{[1]|2|3|4}[:DC]:RANGe:OFFSet?\n\r"
    "[SENSe]:VOLTage{[1]|2|3|4}[:DC]:RANGe:PTPeak <sensitivity|MAX|MIN|UP|DOWN>\n\r"
    "[SENSe]:VOLTage{[1]|2|3|4}[:DC]:RANGe:PTPeak?\n\r",
    // SYSTem
    "SYSTem:COMMunicate:SOCKet{[1]|2}:ADDRess <\"IP Address\">\n\r"
    "SYSTem:COMMunicate:SOCKet{[1]|2}:ADDRess?\n\r"
    "SYSTem:COMMunicate:SOCKet{[2]}:WIFI <\"ssid\">,<\"WEP|WPA-PSK|OPEN\">,<\"key\">\n\r"
    "SYSTem:DATE <yyyy>,<mm>,<dd>\n\r"
    "SYSTem:DATE?\n\r"
    "SYSTem:ERRor[:NEXT]?\n\r"
    "SYSTem:KLOCK <1|0|ON|OFF>\n\r"
    "SYSTem:KLOCK?\n\r"
    "SYSTem:SET <block>\n\r"
    "SYSTem:SET?\n\r"
    "SYSTem:TIME <HH>,<MM>,<SS>\n\r"
    "SYSTem:TIME?\n\r",
    // TRACe
    "TRACe:CATalog?\n\r"
    "TRACe[:DATA]? <INT1|2|3|4>\n\r"
    "TRACe:LIMit <limit1>,<limit2>,<step>\n\r"
    "TRACe:LIMit?\n\r",
    // TRIGger
    "TRIGger[:SEQuence{[1]|2|3|4}]:ATRIGger[:STATe] <1|0|ON|OFF>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:ATRIGger[:STATe]?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:COUPling <AC|DC>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:COUPling?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:DEFine?\n\r"
    "TRIGger[:SEQuence{[2]|3}]:DELay <delay|MAX|MIN|UP|DOWN>\n\r"
    "TRIGger[:SEQuence{[2]|3}]:DELay?\n\r"
    "TRIGger[:SEQuence[2]]:DELDpulse <delay|MAX|MIN|UP|DOWN>\n\r"
    "TRIGger[:SEQuence[2]]:DELDpulse?\n\r"
    "TRIGger[:SEQuence[4]]:ECOunt <count|MAX|MIN|UP|DOWN>\n\r"
    "TRIGger[:SEQuence[4]]:ECOunt?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:FILTer:HPASs[:STATe] <1|0|ON|OFF>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:FILTer:HPASs[:STATe]?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:FILTer:LPASs[:STATe] <1|0|ON|OFF>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:FILTer:LPASs[:STATe]?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:HYSTeresis <0|1>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:HYSTeresis?\n\r"
    "TRIGger[:SEQuence[1]|3|4]:HOLDoff <holdoff>\n\r"
    "TRIGger[:SEQuence[1]|3|4]:HOLDoff?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:LEVel <level|MAX|MIN|UP|DOWN>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:LEVel?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:RUN:STATe <1|0|ON|OFF>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:RUN:STATe?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:SLOPe <POSitive|NEGative>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:SLOPe?\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:SOURce <INTernal{1|2|3|4}>\n\r"
    "TRIGger[:SEQuence{[1]|2|3|4}]:SOURce?\n\r"
    "TRIGger[:SEQuence[2]]:TYPe <INFerior|SUPerior|INSide|OUTside>\n\r"
    "TRIGger[:SEQuence[2]]:TYPe?\n\r",
};

char tc_g_hardcopyName[kHardcopyNameMax + 1];

namespace {

// A name that could leave the screenshots folder or make a name the file system refuses.
bool refusedName(const char* name)
{
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
        return true;
    for (const char* c = name; *c; ++c) {
        const unsigned char u = static_cast<unsigned char>(*c);
        if (u == '/' || u == '\\' || u < 0x20 || u == 0x7F)
            return true;
    }
    return false;
}

} // namespace

// HCOPy:SDUMp[:IMMediate] ["name"]: the root window saves the screen in its own thread, after
// this returns.
int HcopSdum(indic* ind, char* area, pipe_dial* requests, int16_t* requestCount)
{
    if (int r = handlerStart(ind, requestCount, 2))
        return r;
    intptr_t name = 0;
    if (ind->paramCount >= 1) {
        const char* text = paramText(area, 0);
        if (refusedName(text))
            return kErrFileName;
        const size_t length = strnlen(text, kHardcopyNameMax);
        std::memcpy(tc_g_hardcopyName, text, length);
        tc_g_hardcopyName[length] = '\0';
        name = reinterpret_cast<intptr_t>(tc_g_hardcopyName);
    }
    addSetting(requests, requestCount, param::hardcopyRequest, name);
    return 0;
}

// HELP [keyword] and HELP? [keyword]: the keyword's command forms, or the keyword list.
int Help(indic* ind, char* area, pipe_dial*, int16_t* requestCount)
{
    *requestCount = 0;
    const char* text = SCPIDirectoryList;
    if (ind->paramCount >= 1) {
        const uint16_t keyword = paramIndex(area, 0);
        if (keyword < kScpiHelpKeywords)
            text = SCPICommandList[keyword];
    }
    PutMessage(text, static_cast<int32_t>(std::strlen(text)));
    return 0;
}
