// Decimation low-pass filters of the meter and harmonic signals: two fixed 95-tap FIR filters,
// symmetric (linear phase), applied in place to the first samples of a trace.
#include "acquisition/TAcquisition.h"

#include <cstddef>
#include <utility>

namespace {

constexpr size_t kTaps = 95;
constexpr size_t kHalf = 48;   // taps 0..47; tap j equals tap 94 - j
constexpr uint32_t kTop = 0x60000;

// The design values. Their sums (about 1.4024 and 1.0379) are not 1: the tables are scaled by
// their sums below so that a constant input comes out unchanged.
constexpr double kDiv100Half[kHalf] = {
    -0.02315954, 0.00726567093, 0.00652738533, 0.0060662741,
    0.00582608212, 0.00576120294, 0.00584017947, 0.00603041963,
    0.00631371463, 0.00667353647, 0.00709852192, 0.00757671069,
    0.0080988226, 0.00865642443, 0.00924657692, 0.00986655096,
    0.0105024062, 0.0111646219, 0.0118217834, 0.0125062441,
    0.0131911132, 0.0138673991, 0.0145549135, 0.0152400417,
    0.0159273263, 0.0166053017, 0.0172765692, 0.017939034,
    0.0185861037, 0.0192110024, 0.0198109945, 0.0203904667,
    0.0209543608, 0.0215046567, 0.0220230558, 0.0224998087,
    0.0229301815, 0.0233503588, 0.0237716289, 0.0240744184,
    0.0244068941, 0.0246730921, 0.0249064661, 0.0250968213,
    0.0252429273, 0.0253484686, 0.0254117459, 0.0254332739,
};
constexpr double kDiv40Half[kHalf] = {
    -0.0117943836, 0.0039775469, 0.00380338107, 0.0038779414,
    0.00411651328, 0.0044486037, 0.00481236635, 0.00514400733,
    0.00537252535, 0.00544662061, 0.00538554559, 0.00508230643,
    0.00456332952, 0.00379857188, 0.00279490126, 0.00156891565,
    0.000146204368, -0.00143915406, -0.00313358461, -0.00486523481,
    -0.00657851075, -0.00818120666, -0.00959957063, -0.0107451378,
    -0.0115339373, -0.0118884365, -0.0117406217, -0.0110300071,
    -0.00970933487, -0.00775628213, -0.00515509111, -0.00192247128,
    0.0019125505, 0.00629724641, 0.0111582199, 0.0164030606,
    0.0219247612, 0.0276029959, 0.0333040056, 0.0388950093,
    0.0442334875, 0.0491860363, 0.0536239986, 0.0574301349,
    0.0605026172, 0.0627590092, 0.0641384761, 0.0646013627,
};

constexpr double halfSum(const double (&h)[kHalf])
{
    double s = 0.0;
    for (size_t j = 0; j < kHalf; ++j)
        s += j == kHalf - 1 ? h[j] : 2.0 * h[j];
    return s;
}

constexpr double tap(const double (&h)[kHalf], size_t j)
{
    return (j < kHalf ? h[j] : h[kTaps - 1 - j]) / halfSum(h);
}

struct TTable {
    double h[kTaps];
};

template <size_t... J>
constexpr TTable normalised(const double (&half)[kHalf], std::index_sequence<J...>)
{
    return TTable{{tap(half, J)...}};
}

constexpr TTable kDiv100 = normalised(kDiv100Half, std::make_index_sequence<kTaps>());
constexpr TTable kDiv40 = normalised(kDiv40Half, std::make_index_sequence<kTaps>());

// The 95 products with the coefficients as constants (the fold is expanded at compile time).
template <const TTable& T, size_t... J>
inline double convolve(const int32_t* x, std::index_sequence<J...>)
{
    return ((T.h[J] * static_cast<double>(x[J])) + ...);
}

template <const TTable& T>
void fir(const int32_t* input, const int32_t* inputEnd, uint32_t* output)
{
    // Output k stands 95 points after the window's first input: the last input is never read.
    for (const int32_t* x = input; x + kTaps < inputEnd; ++x) {
        const double sum = convolve<T>(x, std::make_index_sequence<kTaps>());
        *output++ = static_cast<uint32_t>(static_cast<int32_t>(sum) + static_cast<int32_t>(kTop));
    }
}

} // namespace

int32_t TNumericFilter::samplesCopy[TNumericFilter::kCopyWords];

void TNumericFilter::FirDiv100(const int32_t* input, const int32_t* inputEnd, uint32_t* output)
{
    fir<kDiv100>(input, inputEnd, output);
}

void TNumericFilter::FirDiv40(const int32_t* input, const int32_t* inputEnd, uint32_t* output)
{
    fir<kDiv40>(input, inputEnd, output);
}

int TNumericFilter::Filter(uint32_t count)
{
    if (filterKind == 0 || samples == nullptr)
        return 1;
    if (count < kTaps)
        return 2;
    if (count > kCopyWords)
        count = kCopyWords;
    for (uint32_t k = 0; k < count; ++k)
        samplesCopy[k] = static_cast<int32_t>(samples[k] & 0xFFFFFu) - static_cast<int32_t>(kTop);
    if (filterKind == 2)
        FirDiv100(samplesCopy, samplesCopy + count, samples + kTaps);
    else
        FirDiv40(samplesCopy, samplesCopy + count, samples + kTaps);
    for (size_t k = 0; k < kTaps; ++k)
        samples[k] = kEmptySampleWord;
    return 1;
}
