#include "scpi/Arbre.h"
#include "scpi/fct.h"
#include "scpi/header.h"
#include "scpi/lex.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

struct Header {
    const char* pattern;  // short form in capitals, optional levels in brackets
    const char* forms;    // "S", "Q" or "SQ"
    THandler handler;
    const char* letters;
};

// The command vocabulary, one line per command header.
const Header kVocabulary[] = {
    {"*CLS", "S", Cls, nullptr}, {"*ESE", "SQ", Ese, "b"}, {"*ESR", "Q", Esr, nullptr},
    {"*IDN", "Q", Idn, nullptr}, {"*OPC", "SQ", Opc, nullptr}, {"*RST", "S", Rst, nullptr},
    {"*SRE", "SQ", Sre, "b"}, {"*STB", "Q", Stb, nullptr}, {"*TRG", "S", Trg, nullptr},
    {"*TST", "Q", Tst, nullptr}, {"*WAI", "S", Wai, nullptr},
    {"ABORt", "S", Abor, nullptr},
    {"ARM[:SEQuence]:COUPling", "SQ", ArmCoup, "D"},
    {"ARM[:SEQuence]:FILTer:HPASs[:STATe]", "SQ", ArmFiltHpas, "a"},
    {"ARM[:SEQuence]:FILTer:LPASs[:STATe]", "SQ", ArmFiltLpas, "a"},
    {"ARM[:SEQuence]:HYSTeresis", "SQ", ArmHyst, "b"},
    {"ARM[:SEQuence]:LEVel", "SQ", ArmLev, "d"},
    {"ARM[:SEQuence]:SLOPe", "SQ", ArmSlop, "G"},
    {"ARM[:SEQuence]:SOURce", "SQ", ArmSour, "Z"},
    {"AUTOSet:EXEcute", "S", AutosExe, nullptr},
    {"CALCulate:MATH[:EXPRession][:DEFine]", "SQ", CalcMath, "f"},
    {"CALCulate:MATH[:EXPRession]:DELete", "S", CalcMathDel, nullptr},
    {"CALCulate:TRANsform:FREQuency[:STATe]", "SQ", CalcTranFreq, "a"},
    {"CALCulate:TRANsform:FREQuency:WINDow", "SQ", CalcTranFreqWind, "I"},
    {"DEVice:MODe", "SQ", DevMod, "Q"},
    {"DISPlay:BRIGhtness", "S", DispBrig, "m"},
    {"DISPlay[:WINDow]:CURSor:REFerence", "SQ", DispCursRef, "M"},
    {"DISPlay[:WINDow]:CURSor:STATe", "SQ", DispCursStat, "a"},
    {"DISPlay[:WINDow]:CURSor:TIME:POSition", "SQ", DispCursTimePos, "c"},
    {"DISPlay[:WINDow]:CURSor:TIME:YPOSition", "Q", DispCursTimeYpos, "c"},
    {"DISPlay[:WINDow]:CURSor:VOLT:POSition", "SQ", DispCursVoltPos, "d"},
    {"DISPlay[:WINDow]:TRACe:FORMat", "SQ", DispTracForm, "K"},
    {"DISPlay[:WINDow]:TRACe:MODE", "SQ", DispTracMode, "L"},
    {"DISPlay[:WINDow]:TRACe:STATe", "SQ", DispTracStat, "a"},
    {"DISPlay[:WINDow]:TRACe:X[:SCALe]:PDIVision", "SQ", DispTracXPdiv, "c"},
    {"DISPlay[:WINDow]:TRACe:XY:XDEFine", "SQ", DispTracXYXdef, "M"},
    {"DISPlay[:WINDow]:TRACe:XY:YDEFine", "SQ", DispTracXYYdef, "M"},
    {"DISPlay[:WINDow]:TRACe:Y:LABel", "SQ", DispTracYLab, "e"},
    {"DISPlay[:WINDow]:TRACe:Y[:SCALe]:PDIVision", "SQ", DispTracYPdiv, "m"},
    {"DISPlay[:WINDow]:TRACe:Y:SPACing", "SQ", DispTracYSpac, "J"},
    {"FORMat[:DATA]", "SQ", Form, "P"},
    {"FORMat:DINTerchange", "SQ", FormDint, "a"},
    {"HCOPy:SDUMp[:IMMediate]", "S", HcopSdum, "j"},
    {"HELP", "SQ", Help, "R"},
    {"INITiate:CONTinuous:NAME", "S", InitContName, "Ba"},
    {"INITiate[:IMMediate]:NAME", "S", InitName, "B"},
    {"INPut:COUPling", "SQ", InpCoup, "C"},
    {"INPut:DMM:BANDwidth:RESolution", "SQ", InpDmmBandRes, "h"},
    {"INPut:DMM:COUPling", "SQ", InpDmmCoup, "X"},
    {"MEASure:AC", "Q", MeasAc, "M^"},
    {"MEASure:AMPLitude", "Q", MeasAmpl, "M"},
    {"MEASure:CURSor:DTIME", "Q", MeasCursDtime, nullptr},
    {"MEASure:CURSor:DVOLT", "Q", MeasCursDvolt, nullptr},
    {"MEASure:DMM", "Q", MeasDmm, "M"},
    {"MEASure:FALL:OVERshoot", "Q", MeasFallOver, "M"},
    {"MEASure:FALL:TIME", "Q", MeasFallTime, "M"},
    {"MEASure:FREQuency", "Q", MeasFreq, "M"},
    {"MEASure:FTIME", "Q", MeasFallTime, "M"},
    {"MEASure:HIGH", "Q", MeasHigh, "M"},
    {"MEASure:LOW", "Q", MeasLow, "M"},
    {"MEASure:MANual:PHASe", "Q", MeasManPhas, nullptr},
    {"MEASure:MAXimum", "Q", MeasMax, "M"},
    {"MEASure:MINimum", "Q", MeasMin, "M"},
    {"MEASure:NWIDth", "Q", MeasNwid, "M"},
    {"MEASure:PDUTycycle", "Q", MeasPdut, "M"},
    {"MEASure:PERiod", "Q", MeasPer, "M"},
    {"MEASure:PTPeak", "Q", MeasPtp, "M"},
    {"MEASure:PULse:COUNt", "Q", MeasPulCoun, "M"},
    {"MEASure:PWIDth", "Q", MeasPwid, "M"},
    {"MEASure:RISE:OVERshoot", "Q", MeasRiseOver, "M"},
    {"MEASure:RISE:TIME", "Q", MeasRiseTime, "M"},
    {"MEASure:RTIME", "Q", MeasRiseTime, "M"},
    {"MEASure:SUM", "Q", MeasSum, "M"},
    {"MEASure:VOLT[:DC]", "Q", MeasVolt, "M"},
    {"MMEMory:CATalog", "Q", MmemCat, "["},
    {"MMEMory:CDIRectory", "SQ", MmemCdir, "e"},
    {"MMEMory:DATA", "SQ", MmemData, "eg"},
    {"MMEMory:DELete", "S", MmemDel, "e["},
    {"MMEMory:LOAD:MACRo", "S", MmemLoadMacr, "Me["},
    {"MMEMory:LOAD:STATe", "S", MmemLoadStat, "e["},
    {"MMEMory:LOAD:TRACe", "S", MmemLoadTrac, "e["},
    {"MMEMory:MSIS", "SQ", MmemMsis, "["},
    {"MMEMory:STORe:MACRo", "S", MmemStorMacr, "Me["},
    {"MMEMory:STORe:STATe", "S", MmemStorStat, "e["},
    {"MMEMory:STORe:TRACe", "S", MmemStorTrac, "e["},
    {"PASSFAIL:BEEP", "SQ", PassfailBeep, "a"},
    {"PASSFAIL:CONTrol", "SQ", PassfailCont, "a"},
    {"PASSFAIL:COUNt:ALL", "Q", PassfailCountAll, nullptr},
    {"PASSFAIL:COUNt:FAIL", "Q", PassfailCountFail, nullptr},
    {"PASSFAIL:COUNt:PASS", "Q", PassfailCountPass, nullptr},
    {"PASSFAIL:DISPlay", "SQ", PassfailDisp, "_"},
    {"PASSFAIL:LOAD", "S", PassfailLoad, "e["},
    {"PASSFAIL:SAVE", "S", PassfailSave, "e["},
    {"PASSFAIL:SOURCE", "SQ", PassfailSource, "F"},
    {"PASSFAIL:STATE", "SQ", PassfailState, "a"},
    {"PASSFAIL:XMASK", "SQ", PassfailXmask, "m"},
    {"PASSFAIL:YMASK", "SQ", PassfailYmask, "m"},
    {"[SENSe:]AVERage:COUNt", "SQ", AverCoun, "b"},
    {"[SENSe:]AVERage[:STATe]", "SQ", Aver, "a"},
    {"[SENSe:]AVERage:TYPE", "SQ", AverType, "H"},
    {"[SENSe:]BANDwidth[:RESolution][:RESolution]", "SQ", BandRes, "h"},
    {"[SENSe:]FUNCtion", "SQ", SensFunc, "W"},
    {"[SENSe:]RANGe:AUTO", "SQ", SensRangAuto, "a"},
    {"[SENSe:]RANGe:CAPA", "SQ", SensRangCapa, "n"},
    {"[SENSe:]RANGe:OHM", "SQ", SensRangOhm, "o"},
    {"[SENSe:]RANGe:VOLT", "SQ", SensRangVolt, "d"},
    {"[SENSe:]SWEep:OFFSet:TIME", "SQ", SensSweOffsTime, "c"},
    {"[SENSe:]VOLTage[:DC]:RANGe:OFFSet", "SQ", VoltRangOffs, "d"},
    {"[SENSe:]VOLTage[:DC]:RANGe:PTPeak", "SQ", VoltRangPtp, "d"},
    {"SYSTem:COMMunicate:SOCKet:ADDRess", "SQ", SystCommSockAddr, "e"},
    {"SYSTem:COMMunicate:SOCKet:WIFI", "S", SystCommSockWifi, "eee"},
    {"SYSTem:DATE", "SQ", SystDate, "bbb"},
    {"SYSTem:ERRor[:NEXT]", "Q", SystErr, nullptr},
    {"SYSTem:KLOCK", "SQ", SystKlock, "a"},
    {"SYSTem:SET", "SQ", SystSet, "g"},
    {"SYSTem:TIME", "SQ", SystTime, "bbb"},
    {"TRACe:CATalog", "Q", TracCat, nullptr},
    {"TRACe:LIMit", "SQ", TracLim, "bbb"},
    {"TRACe[:DATA]", "Q", Trac, "T"},
    {"TRIGger[:SEQuence]:ATRIGger[:STATe]", "SQ", TrigAtrig, "a"},
    {"TRIGger[:SEQuence]:COUPling", "SQ", TrigCoup, "D"},
    {"TRIGger[:SEQuence]:DEFine", "Q", TrigDef, nullptr},
    {"TRIGger[:SEQuence]:DELay", "SQ", TrigDel, "c"},
    {"TRIGger[:SEQuence]:DELDpulse", "SQ", TrigDeld, "c"},
    {"TRIGger[:SEQuence]:ECOunt", "SQ", TrigEco, "b"},
    {"TRIGger[:SEQuence]:FILTer:HPASs[:STATe]", "SQ", TrigFiltHpas, "a"},
    {"TRIGger[:SEQuence]:FILTer:LPASs[:STATe]", "SQ", TrigFiltLpas, "a"},
    {"TRIGger[:SEQuence]:HOLDoff", "SQ", TrigHold, "c"},
    {"TRIGger[:SEQuence]:HYSTeresis", "SQ", TrigHyst, "b"},
    {"TRIGger[:SEQuence]:LEVel", "SQ", TrigLev, "d"},
    {"TRIGger[:SEQuence]:RUN:STATe", "SQ", TrigRunStat, "a"},
    {"TRIGger[:SEQuence]:SLOPe", "SQ", TrigSlop, "G"},
    {"TRIGger[:SEQuence]:SOURce", "SQ", TrigSour, "F"},
    {"TRIGger[:SEQuence]:TYPe", "SQ", TrigTyp, "Y"},
    {"ZC:CALibration:ACQSize", "S", ZcCalAcqs, nullptr},
    {"ZC:CALibration:BW", "SQ", ZcCalBw, "b"},
    {"ZC:CALibration:CAT", "S", ZcCalCat, "bb"},
    {"ZC:CALibration:CDC", "S", ZcCalCdc, nullptr},
    {"ZC:CALibration:CORTEMP", "S", ZcCalCorTemp, "b"},
    {"ZC:CALibration:DMM", "S", ZcCalDmm, "mmmmm"},
    {"ZC:CALibration:FLASH", "S", ZcCalFlash, nullptr},
    {"ZC:CALibration:IDENTify", "S", ZcCalIdent, "ee"},
    {"ZC:CALibration:IGAMme", "S", ZcCalIGamme, nullptr},
    {"ZC:CALibration:INIT", "S", ZcCalInit, nullptr},
    {"ZC:CALibration:LIST", "SQ", ZcCalList, "g"},
    {"ZC:CALibration:LVL", "S", ZcCalLvl, nullptr},
    {"ZC:CALibration:MATrix", "Q", ZcCalMat, nullptr},
    {"ZC:CALibration:PIP", "S", ZcCalPip, "b"},
    {"ZC:CALibration:SNUMber", "SQ", ZcCalSnum, "e"},
    {"ZC:CALibration:TST", "Q", ZcCalTst, nullptr},
    {"ZC:CALibration:VN", "S", ZcCalVn, nullptr},
    {"ZC:CALibration:VOS", "S", ZcCalVos, nullptr},
    {"ZC:CALibration:VP", "S", ZcCalVp, nullptr},
    {"ZC:HTTP", "Q", ZcHttp, "e"},
};

struct Level {
    std::string mnemonic;  // as written: short form in capitals
    bool optional;
};

std::vector<Level> levels(const char* pattern)
{
    std::vector<Level> out;
    std::string p = pattern;
    size_t i = 0;
    while (i < p.size()) {
        bool optional = false;
        if (p[i] == '[') {
            optional = true;
            ++i;
        }
        if (p[i] == ':')
            ++i;
        size_t end = i;
        while (end < p.size() && p[end] != ':' && p[end] != '[' && p[end] != ']')
            ++end;
        out.push_back({p.substr(i, end - i), optional});
        i = end;
        if (i + 1 < p.size() && p[i] == ':' && p[i + 1] == ']')
            i += 2;  // "[SENSe:]"
        else if (i < p.size() && p[i] == ']')
            ++i;
    }
    return out;
}

std::string shortForm(const std::string& m)
{
    std::string s;
    for (char c : m) {
        if (std::islower(static_cast<unsigned char>(c)))
            break;
        s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string longForm(const std::string& m)
{
    std::string s;
    for (char c : m)
        s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Walks the written levels like the interpreter: search in the current node, descend on ":".
const entry* resolve(const std::vector<std::string>& written, indic* ind)
{
    scpi_init(ind, 0);
    const node* n = tree();
    const entry* e = nullptr;
    for (size_t i = 0; i < written.size(); ++i) {
        if (i > 0) {
            if (!e || !e->child)
                return nullptr;
            n = e->child;
        }
        e = search(n, written[i].c_str(), ind);
        if (!e)
            return nullptr;
    }
    return e;
}

void collect(const node* n, std::set<const node*>& nodes)
{
    if (!nodes.insert(n).second)
        return;
    for (int i = 0; i < n->entryCount; ++i) {
        if (n->entries[i].child)
            collect(n->entries[i].child, nodes);
    }
}

TEST(CommandTree, StructureCountsOrderAndFlags)
{
    std::set<const node*> nodes;
    collect(tree(), nodes);
    EXPECT_EQ(nodes.size(), 69u);
    int entries = 0, handlers = 0, paths = 0, defaults = 0;
    for (const node* n : nodes) {
        ASSERT_GT(n->entryCount, 0);
        ASSERT_LT(n->defaultEntry, n->entryCount);
        if (n->defaultEntry >= 0) {
            ++defaults;
            const entry& d = n->entries[n->defaultEntry];
            EXPECT_TRUE(d.child || d.handler) << d.keyword;
        }
        for (int i = 0; i < n->entryCount; ++i) {
            const entry& e = n->entries[i];
            ++entries;
            std::string k = e.keyword;
            EXPECT_EQ(e.longLength, k.size()) << k;
            EXPECT_GE(e.shortLength, 1) << k;
            EXPECT_LE(e.shortLength, e.longLength) << k;
            EXPECT_LE(k.size(), 12u) << k;
            EXPECT_EQ(longForm(k), k);
            if (i > 0) {
                EXPECT_LT(std::strcmp(n->entries[i - 1].keyword, e.keyword), 0) << "order at " << k;
            }
            if (e.handler) {
                ++handlers;
                EXPECT_TRUE(e.setAllowed || e.queryAllowed) << k;
            } else {
                ++paths;
                // A path header alone is "undefined": set flag, no query, no letters.
                EXPECT_TRUE(e.setAllowed) << k;
                EXPECT_FALSE(e.queryAllowed) << k;
                EXPECT_EQ(e.paramLetters, nullptr) << k;
                EXPECT_NE(e.child, nullptr) << k;
            }
        }
    }
    EXPECT_EQ(entries, 222);
    EXPECT_EQ(handlers, 170);
    EXPECT_EQ(paths, 52);
    EXPECT_EQ(defaults, 24);
    EXPECT_EQ(tree()->entryCount, 30);
    ASSERT_GE(tree()->defaultEntry, 0);
    EXPECT_STREQ(tree()->entries[tree()->defaultEntry].keyword, "sense");

    // A handler entry with an optional child carries the same handler and letters there.
    for (const node* n : nodes) {
        for (int i = 0; i < n->entryCount; ++i) {
            const entry& e = n->entries[i];
            if (!e.handler || !e.child || e.child->defaultEntry < 0)
                continue;
            const entry& d = e.child->entries[e.child->defaultEntry];
            EXPECT_EQ(d.handler, e.handler) << e.keyword;
            EXPECT_EQ(std::string(d.paramLetters ? d.paramLetters : ""), e.paramLetters ? e.paramLetters : "");
            EXPECT_EQ(d.setAllowed, e.setAllowed) << e.keyword;
            EXPECT_EQ(d.queryAllowed, e.queryAllowed) << e.keyword;
        }
    }
}

TEST(CommandTree, EveryHeaderReachableInShortAndLongFormWithOrWithoutOptionalLevels)
{
    EXPECT_EQ(sizeof kVocabulary / sizeof kVocabulary[0], 154u);
    std::set<const entry*> reached;
    for (const Header& h : kVocabulary) {
        std::vector<Level> lv = levels(h.pattern);
        std::vector<size_t> optional;
        for (size_t i = 0; i < lv.size(); ++i) {
            if (lv[i].optional)
                optional.push_back(i);
        }
        // Every choice of optional levels, in short, long and alternating forms.
        for (unsigned mask = 0; mask < (1u << optional.size()); ++mask) {
            for (int form = 0; form < 3; ++form) {
                std::vector<std::string> written;
                std::vector<bool> present(lv.size(), true);
                for (size_t k = 0; k < optional.size(); ++k)
                    present[optional[k]] = (mask >> k) & 1;
                int depth = 0;
                for (size_t i = 0; i < lv.size(); ++i) {
                    if (!present[i])
                        continue;
                    bool useLong = form == 1 || (form == 2 && depth % 2 == 0);
                    written.push_back(useLong ? longForm(lv[i].mnemonic) : shortForm(lv[i].mnemonic));
                    ++depth;
                }
                std::string text;
                for (const std::string& w : written)
                    text += (text.empty() ? "" : ":") + w;
                indic ind;
                const entry* e = resolve(written, &ind);
                ASSERT_NE(e, nullptr) << text;
                reached.insert(e);
                EXPECT_EQ(e->handler, h.handler) << text;
                EXPECT_EQ(std::string(e->paramLetters ? e->paramLetters : ""), h.letters ? h.letters : "") << text;
                EXPECT_EQ(e->setAllowed != 0, std::strchr(h.forms, 'S') != nullptr) << text;
                EXPECT_EQ(e->queryAllowed != 0, std::strchr(h.forms, 'Q') != nullptr) << text;
                // Suffix levels count the optional levels, written or not, up to the last
                // one written (BANDwidth:RESolution is ambiguous: its two levels share a name).
                size_t last = 0;
                for (size_t i = 0; i < lv.size(); ++i) {
                    if (present[i])
                        last = i;
                }
                if (std::string(h.pattern).find("RESolution][") == std::string::npos) {
                    EXPECT_EQ(ind.count, static_cast<int>(last) + 1) << text;
                }
            }
        }
    }
    EXPECT_EQ(reached.size(), 170u);  // every handler entry of the tree
}

TEST(CommandTree, OptionalLevelsMatchingAndSuffixes)
{
    indic ind;
    const entry* func = resolve({"func"}, &ind);
    ASSERT_NE(func, nullptr);
    EXPECT_EQ(func->handler, &SensFunc);  // SENSe is the root's optional level
    EXPECT_EQ(ind.count, 2);

    const entry* a = resolve({"trig", "lev"}, &ind);
    EXPECT_EQ(ind.count, 3);
    const entry* b = resolve({"trigger", "level"}, &ind);
    const entry* c = resolve({"trigger", "sequence", "level"}, &ind);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, c);
    EXPECT_EQ(a->handler, &TrigLev);
    // Only the exact short or long form: nothing in between, nothing longer.
    EXPECT_EQ(resolve({"trigg"}, &ind), nullptr);
    EXPECT_EQ(resolve({"trig", "leve"}, &ind), nullptr);
    EXPECT_EQ(resolve({"trig", "levels"}, &ind), nullptr);

    const entry* form = resolve({"form"}, &ind);
    const entry* formData = resolve({"form", "data"}, &ind);
    ASSERT_NE(form, nullptr);
    ASSERT_NE(formData, nullptr);
    EXPECT_EQ(form->handler, formData->handler);

    const entry* arm = resolve({"arm"}, &ind);
    ASSERT_NE(arm, nullptr);
    EXPECT_EQ(arm->handler, nullptr);  // a path entry: alone it is an undefined header
    const entry* freq = resolve({"meas", "freq"}, &ind);
    ASSERT_NE(freq, nullptr);
    EXPECT_FALSE(freq->setAllowed);
    EXPECT_TRUE(freq->queryAllowed);

    // Suffixes: the one written on a mnemonic found through an optional level moves up to its
    // own level, so handlers find each suffix at a fixed level.
    struct Case {
        std::vector<std::string> words;
        std::vector<int> suffixes;  // levels 0.. after the walk
        int count;
    } cases[] = {
        {{"trig", "lev2"}, {1, 1, 2}, 3},
        {{"trig3", "seq2", "lev4"}, {3, 2, 4}, 3},
        {{"trace12"}, {12}, 1},
        {{"func5"}, {1, 5}, 2},
        {{"sens", "volt2", "rang", "offs"}, {1, 2, 1, 1, 1}, 5},
        {{"volt2", "rang", "offs"}, {1, 2, 1, 1, 1}, 5},
        {{"*cls65537"}, {32767}, 1},  // saturated: never wraps round to 1
        {{"*cls99999999"}, {32767}, 1},
        {{"syst", "err0"}, {1, 0}, 2},
    };
    for (const Case& k : cases) {
        scpi_init(&ind, 0);
        const node* n = tree();
        const entry* e = nullptr;
        std::string text;
        for (const std::string& w : k.words) {
            if (e)
                n = e->child;
            ASSERT_NE(n, nullptr);
            lex l{};
            std::strcpy(l.text, w.c_str());
            l.textLength = static_cast<int16_t>(w.size());
            explode(&l, &ind);
            e = search(n, l.text, &ind);
            text += w + ":";
            ASSERT_NE(e, nullptr) << text;
        }
        EXPECT_EQ(ind.count, k.count) << text;
        for (size_t i = 0; i < k.suffixes.size(); ++i)
            EXPECT_EQ(ind.suffix[i], k.suffixes[i]) << text << " level " << i;
    }
}

TEST(CommandTree, PathResetAndSuffixCheck)
{
    indic ind;
    scpi_init(&ind, 0);
    for (int i = 0; i < kScpiLevels; ++i)
        ind.suffix[i] = static_cast<int16_t>(i + 5);
    ind.query = ind.paramCount = ind.postAction = 3;
    scpi_init(&ind, 2);
    EXPECT_EQ(ind.count, 2);
    EXPECT_EQ(ind.suffix[0], 5);
    EXPECT_EQ(ind.suffix[1], 6);
    for (int i = 2; i < kScpiLevels; ++i)
        EXPECT_EQ(ind.suffix[i], 1);
    EXPECT_EQ(ind.query, 0);
    EXPECT_EQ(ind.paramCount, 0);
    EXPECT_EQ(ind.postAction, 0);
    EXPECT_EQ(tstind(&ind, 0, 9), 2);
    EXPECT_EQ(tstind(&ind, 1, 1), 1);
    EXPECT_EQ(tstind(&ind, 2, 9), 0);
    EXPECT_EQ(tstind(&ind, 0, 20), 2);  // clamped to the levels that exist
}

} // namespace
