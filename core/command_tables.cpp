#include "core/command_tables.h"

#include "core/gest_db.h"
#include "core/requests.h"

#include <array>
#include <initializer_list>

namespace {

using TRules = std::array<TParameterRule, kParameterCount>;
using TRestarts = std::array<TRestartEntry, kParameterCount>;

// One parameter or an inclusive range of them.
struct TSpan {
    constexpr TSpan(int one) : first(one), last(one) {}
    constexpr TSpan(int from, int to) : first(from), last(to) {}
    int first;
    int last;
};

constexpr TParameterRule rule(TScreenRule screen, TForwardRule measure, TForwardRule restart, bool bus = false,
                              int16_t code = -1)
{
    TParameterRule r;
    r.screen = screen;
    r.measure = measure;
    r.restart = restart;
    r.bus = bus;
    r.restartCode = code;
    return r;
}

constexpr bool isEmpty(const TParameterRule& r)
{
    return r.screen == TScreenRule::None && r.measure == TForwardRule::No && r.restart == TForwardRule::No && !r.bus;
}

// A parameter listed twice is a mistake in the table; it stops the build.
constexpr void put(TRules& table, std::initializer_list<TSpan> spans, TParameterRule r)
{
    for (TSpan s : spans)
        for (int n = s.first; n <= s.last; ++n) {
            if (!isEmpty(table[n]))
                throw "parameter listed twice";
            table[n] = r;
        }
}

constexpr void put(TRestarts& table, std::initializer_list<TSpan> spans, TMaskRule maskRule, int16_t mask,
                   int16_t action)
{
    for (TSpan s : spans)
        for (int n = s.first; n <= s.last; ++n) {
            if (table[n].rule != TMaskRule::None)
                throw "parameter listed twice";
            table[n] = TRestartEntry{maskRule, mask, action};
        }
}

using S = TScreenRule;
using F = TForwardRule;

constexpr TRules buildRules()
{
    TRules t{};
    put(t, {1, 31, {42, 45}, {50, 53}, 100, {103, 107}, 154, 157, 160, 163, {166, 169}, {207, 211}},
        rule(S::Maj, F::No, F::No));
    put(t, {2, {9, 13}, 37, 61, 71, 72, 98, 99, {117, 120}, 148}, rule(S::Maj, F::Yes, F::Yes));
    put(t, {3, 196}, rule(S::None, F::No, F::Yes, false, 3));
    put(t, {5, 7, 8, {14, 21}, 32, 36, 41, {66, 70}, {84, 87}, 112, {134, 141}, {151, 153}, 155, 156, 158, 159,
            161, 162, 164, 165, {174, 177}, 179, 180, {181, 192}, 194, 202, 206, {212, 216}, 218, 219},
        rule(S::Maj, F::No, F::Yes));
    put(t, {23}, rule(S::Maj, F::Yes, F::No));
    put(t, {24, 25, 90, 91}, rule(S::None, F::Yes, F::InScope));
    put(t, {27}, rule(S::MajAfterAutoset, F::Yes, F::Yes));
    put(t, {29, 38}, rule(S::Raz, F::Yes, F::Yes, true));
    put(t, {30, 39, 132, 201}, rule(S::Maj, F::No, F::No));
    put(t, {34}, rule(S::MajInScope, F::No, F::No));
    put(t, {{55, 58}}, rule(S::Maj, F::WhenChanged, F::WhenChanged));
    put(t, {59, 60}, rule(S::Maj, F::WhenRemote, F::WhenRemote));
    put(t, {73}, rule(S::RazInMode19, F::Yes, F::Yes));
    put(t, {74, 142}, rule(S::Maj, F::Yes, F::No));
    put(t, {83}, rule(S::Maj, F::Yes, F::Yes));
    put(t, {88, 89, {203, 205}, 92}, rule(S::None, F::Yes, F::No));
    put(t, {93}, rule(S::None, F::Yes, F::InScope));  // its screen update is part of the write
    put(t, {94, 96, 101}, rule(S::Maj, F::No, F::Yes));
    put(t, {{113, 116}}, rule(S::Maj, F::No, F::WhenChanged));
    put(t, {121}, rule(S::Maj, F::WhenChanged, F::WhenChanged));
    put(t, {127}, rule(S::None, F::No, F::CalibrationStep));
    put(t, {129, 198}, rule(S::None, F::No, F::Yes));
    put(t, {150}, rule(S::Maj, F::Yes, F::Yes));
    return t;
}

constexpr TRestarts buildRestarts()
{
    TRestarts t{};
    put(t, {2, 27, 29, 38, 129, 151}, TMaskRule::Fixed, CH_ALL, ACQ_RESTART_32);
    // 196 restarts as 3 does (its message carries code 3).
    put(t, {3, 196, 5, 7, 8, 13, 24, 25, 32, 36, 61, {70, 72}, 90, 91, 93, 94, 96, 101, 112, 121, 150, {174, 177},
            179, 180, 194, 198, 202, 206, 215, 216, 218, 219},
        TMaskRule::Fixed, CH_ALL, ACQ_RESTART_CLEAR);
    put(t, {37, 41, 59, 60, 73, 98, 99, 148}, TMaskRule::Fixed, CH_ALL, ACQ_RESTART_FULL);
    put(t, {14, 113, 152, 153, 164, 165, 181, 185, 189}, TMaskRule::Fixed, CH_LIVE_1, ACQ_RESTART_CLEAR);
    put(t, {16, 114, 155, 156, 182, 186, 190}, TMaskRule::Fixed, CH_LIVE_2, ACQ_RESTART_CLEAR);
    put(t, {18, 115, 158, 159, 183, 187, 191}, TMaskRule::Fixed, CH_LIVE_3, ACQ_RESTART_CLEAR);
    put(t, {20, 116, 161, 162, 184, 188, 192}, TMaskRule::Fixed, CH_LIVE_4, ACQ_RESTART_CLEAR);
    // Offset, coupling, sensitivity, FFT offset and bandwidth limit of each channel.
    put(t, {9, 15, 55, 117, 138}, TMaskRule::Channel, 1, ACQ_RESTART_CLEAR);
    put(t, {10, 17, 56, 118, 139}, TMaskRule::Channel, 2, ACQ_RESTART_CLEAR);
    put(t, {11, 19, 57, 119, 140}, TMaskRule::Channel, 3, ACQ_RESTART_CLEAR);
    put(t, {12, 21, 58, 120, 141}, TMaskRule::Channel, 4, ACQ_RESTART_CLEAR);
    put(t, {66}, TMaskRule::Fixed, CH_LIVE_1, ACQ_RESTART_FULL);
    put(t, {67}, TMaskRule::Fixed, CH_LIVE_2, ACQ_RESTART_FULL);
    put(t, {68}, TMaskRule::Fixed, CH_LIVE_3, ACQ_RESTART_FULL);
    put(t, {69}, TMaskRule::Fixed, CH_LIVE_4, ACQ_RESTART_FULL);
    put(t, {83}, TMaskRule::Fixed, CH_REF_1 | CH_REF_2 | CH_REF_3 | CH_REF_4, ACQ_RESTART_CLEAR);
    put(t, {84}, TMaskRule::Fixed, CH_REF_1, ACQ_RESTART_CLEAR);
    put(t, {85}, TMaskRule::Fixed, CH_REF_2, ACQ_RESTART_CLEAR);
    put(t, {86}, TMaskRule::Fixed, CH_REF_3, ACQ_RESTART_CLEAR);
    put(t, {87}, TMaskRule::Fixed, CH_REF_4, ACQ_RESTART_CLEAR);
    put(t, {134}, TMaskRule::Fixed, CH_MEM_1, ACQ_RESTART_CLEAR);
    put(t, {135}, TMaskRule::Fixed, CH_MEM_2, ACQ_RESTART_CLEAR);
    put(t, {136}, TMaskRule::Fixed, CH_MEM_3, ACQ_RESTART_CLEAR);
    put(t, {137}, TMaskRule::Fixed, CH_MEM_4, ACQ_RESTART_CLEAR);
    put(t, {{212, 214}}, TMaskRule::Fixed, CH_MASK_TRACE, ACQ_RESTART_CLEAR);
    put(t, {127}, TMaskRule::AuxValue, 0, ACQ_RESTART_FRONT_END);
    return t;
}

constexpr TRules kRules = buildRules();
constexpr TRestarts kRestarts = buildRestarts();

// Every parameter that may restart has a restart entry.
constexpr bool restartsCovered()
{
    for (int n = 0; n < kParameterCount; ++n)
        if (kRules[n].restart != TForwardRule::No && kRestarts[n].rule == TMaskRule::None)
            return false;
    return true;
}
static_assert(restartsCovered(), "a restarting parameter without a restart entry");

} // namespace

const TParameterRule& parameterRule(int parameter)
{
    return kRules[parameter];
}

const TRestartEntry& restartEntry(int parameter)
{
    return kRestarts[parameter];
}

bool droppedInMode(int parameter, int32_t value, uint16_t instrumentMode)
{
    constexpr uint16_t kRecorder = 130;
    constexpr int kAcqRunStop = 3;
    constexpr int kFirstMeterSetting = 150;  // meterAuxMeas
    constexpr int kLastMeterSetting = 165;   // capaRange
    if (instrumentMode != kRecorder)
        return false;
    if (parameter == kAcqRunStop)
        return static_cast<int16_t>(value) != 0;
    return parameter >= kFirstMeterSetting && parameter <= kLastMeterSetting;
}
