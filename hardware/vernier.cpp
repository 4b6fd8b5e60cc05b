#include "hardware/vernier.h"

#include <algorithm>

uint16_t TVernier::us_c_vernierMinCh1 = 0, TVernier::us_c_vernierMinCh2 = 0,
         TVernier::us_c_vernierMinCh3 = 0, TVernier::us_c_vernierMinCh4 = 0;
uint16_t TVernier::us_c_vernierMaxCh1 = 0, TVernier::us_c_vernierMaxCh2 = 0,
         TVernier::us_c_vernierMaxCh3 = 0, TVernier::us_c_vernierMaxCh4 = 0;

TVernier VernierCh1(0), VernierCh2(1), VernierCh3(2), VernierCh4(3);

int16_t MatriceOffsetsV1_inf2us[kPhaseCount], MatriceOffsetsV2_inf2us[kPhaseCount],
    MatriceOffsetsV3_inf2us[kPhaseCount], MatriceOffsetsV4_inf2us[kPhaseCount];
int16_t MatriceOffsetsV1_equ2us[kPhaseCount], MatriceOffsetsV2_equ2us[kPhaseCount],
    MatriceOffsetsV3_equ2us[kPhaseCount], MatriceOffsetsV4_equ2us[kPhaseCount];
int16_t MatriceOffsetsV1_sup2us[kPhaseCount], MatriceOffsetsV2_sup2us[kPhaseCount],
    MatriceOffsetsV3_sup2us[kPhaseCount], MatriceOffsetsV4_sup2us[kPhaseCount];
int16_t MatriceOffsetsMinMaxV1[kPhaseCount], MatriceOffsetsMinMaxV2[kPhaseCount],
    MatriceOffsetsMinMaxV3[kPhaseCount], MatriceOffsetsMinMaxV4[kPhaseCount];

int16_t* const MatriceOffsetsListV1[3] = {MatriceOffsetsV1_sup2us, MatriceOffsetsV1_equ2us,
                                          MatriceOffsetsV1_inf2us};
int16_t* const MatriceOffsetsListV2[3] = {MatriceOffsetsV2_sup2us, MatriceOffsetsV2_equ2us,
                                          MatriceOffsetsV2_inf2us};
int16_t* const MatriceOffsetsListV3[3] = {MatriceOffsetsV3_sup2us, MatriceOffsetsV3_equ2us,
                                          MatriceOffsetsV3_inf2us};
int16_t* const MatriceOffsetsListV4[3] = {MatriceOffsetsV4_sup2us, MatriceOffsetsV4_equ2us,
                                          MatriceOffsetsV4_inf2us};

int16_t BypassMinOffsetV1 = 0, BypassMinOffsetV2 = 0, BypassMinOffsetV3 = 0,
        BypassMinOffsetV4 = 0;
int16_t BypassMaxOffsetV1 = 0, BypassMaxOffsetV2 = 0, BypassMaxOffsetV3 = 0,
        BypassMaxOffsetV4 = 0;

namespace {
int clampChannel(int channelIndex)
{
    return (channelIndex >= 0 && channelIndex < 4) ? channelIndex : 0;
}
}  // namespace

TVernier& vernierOf(int channelIndex)
{
    static TVernier* const all[4] = {&VernierCh1, &VernierCh2, &VernierCh3, &VernierCh4};
    return *all[clampChannel(channelIndex)];
}

uint16_t& vernierMinOf(int channelIndex)
{
    static uint16_t* const all[4] = {&TVernier::us_c_vernierMinCh1, &TVernier::us_c_vernierMinCh2,
                                     &TVernier::us_c_vernierMinCh3, &TVernier::us_c_vernierMinCh4};
    return *all[clampChannel(channelIndex)];
}

uint16_t& vernierMaxOf(int channelIndex)
{
    static uint16_t* const all[4] = {&TVernier::us_c_vernierMaxCh1, &TVernier::us_c_vernierMaxCh2,
                                     &TVernier::us_c_vernierMaxCh3, &TVernier::us_c_vernierMaxCh4};
    return *all[clampChannel(channelIndex)];
}

int16_t* matriceOffsetsOf(int channelIndex, int group)
{
    static int16_t* const* const lists[4] = {MatriceOffsetsListV1, MatriceOffsetsListV2,
                                             MatriceOffsetsListV3, MatriceOffsetsListV4};
    static int16_t* const minMax[4] = {MatriceOffsetsMinMaxV1, MatriceOffsetsMinMaxV2,
                                       MatriceOffsetsMinMaxV3, MatriceOffsetsMinMaxV4};
    const int ch = clampChannel(channelIndex);
    if (group >= 0 && group < 3)
        return lists[ch][group];
    return minMax[ch];
}

int16_t& bypassMinOffsetOf(int channelIndex)
{
    static int16_t* const all[4] = {&BypassMinOffsetV1, &BypassMinOffsetV2, &BypassMinOffsetV3,
                                    &BypassMinOffsetV4};
    return *all[clampChannel(channelIndex)];
}

int16_t& bypassMaxOffsetOf(int channelIndex)
{
    static int16_t* const all[4] = {&BypassMaxOffsetV1, &BypassMaxOffsetV2, &BypassMaxOffsetV3,
                                    &BypassMaxOffsetV4};
    return *all[clampChannel(channelIndex)];
}

TVernier::TVernier(int16_t index) : channelIndex(index) {}

int TVernier::IsCalibrationOK() const
{
    const uint16_t mn = vernierMinOf(channelIndex);
    const uint16_t mx = vernierMaxOf(channelIndex);
    if (mn == 0 || mn == 4095 || mx == 0 || mx == 4095)
        return -1;
    return 0;
}

int TVernier::ValeurCorrigee(int32_t* code)
{
    const int32_t x = *code;
    if (x == 0 || x == 4095) {
        *code = 0;
        return kNoVernier;
    }
    uint16_t& mnRef = vernierMinOf(channelIndex);
    uint16_t& mxRef = vernierMaxOf(channelIndex);
    int32_t mn = mnRef;
    int32_t mx = mxRef;
    // The window shrinks slowly so that a drifting vernier range is followed.
    if (--countdown <= 0) {
        countdown = 128;
        mx = std::max(mx - 1, mn);
        mn = std::min(mx, mn + 1);
    }
    mn = std::min(mn, x);
    mx = std::max(mx, x);
    mnRef = static_cast<uint16_t>(mn);
    mxRef = static_cast<uint16_t>(mx);
    if (mx <= mn) {
        // An empty window gives no position: treated as a missing vernier.
        *code = 0;
        return kNoVernier;
    }
    *code = (mx - x) * 20479 / (mx - mn);
    return 0;
}

void VernierTablesEnd()
{
    for (int ch = 0; ch < 4; ++ch) {
        vernierMinOf(ch) = 0;
        vernierMaxOf(ch) = 0;
        vernierOf(ch).countdown = 128;
        for (int group = 0; group < 4; ++group)
            std::fill(matriceOffsetsOf(ch, group), matriceOffsetsOf(ch, group) + kPhaseCount, int16_t{0});
        bypassMinOffsetOf(ch) = 0;
        bypassMaxOffsetOf(ch) = 0;
    }
}
