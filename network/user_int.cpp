#include "network/user_int.h"

#include <QObject>
#include <QRegularExpression>
#include <QStringList>

#include <cstdlib>
#include <mutex>

std::string& o_g_statusTrigger = *new std::string;
std::string& o_g_statusMisc1 = *new std::string;
std::string& o_g_statusMisc2 = *new std::string;
std::string& o_g_statusBattery = *new std::string;
std::string& o_g_statusWarning = *new std::string;
std::string& o_g_passfailCounter = *new std::string;
TMeterTexts& to_g_meterRange = *new TMeterTexts;
TMeterTexts& to_g_meterCoupling = *new TMeterTexts;
TMeterTexts& to_g_meterMainMeas = *new TMeterTexts;
TMeterTexts& to_g_meterAux1Meas = *new TMeterTexts;
TMeterTexts& to_g_meterAux2Meas = *new TMeterTexts;
std::string& o_g_activePower = *new std::string;
std::string& o_g_reactivePower = *new std::string;
std::string& o_g_apparentPower = *new std::string;
std::string& o_g_dpf = *new std::string;
std::string& o_g_aux1Meas = *new std::string;
std::string& o_g_aux2Meas = *new std::string;

namespace {

// Never destroyed, like the texts it guards.
std::mutex& cacheMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

const char* const kEmpty = "+";

const QChar kMicro(0x03BC);
const QChar kDegree(0x00B0);
const QChar kOhmSign(0x2126);
// The unit helpers write the Greek capital omega; the remote client knows only "{".
const QChar kOmega(0x03A9);
const QChar kEAcute(0x00E9);

std::string bytes(const QString& text)
{
    return text.toUtf8().toStdString();
}

// The 30 lower-case accented letters the remote client cannot show, to their base letters.
QString folded(QString text)
{
    static const QRegularExpression* accented =
        new QRegularExpression(QString::fromUtf8("[àáâãäåčèéêëěìíîïñňòóôõöřšùúûüž]"));
    if (!text.contains(*accented))
        return text;
    struct Fold {
        const char* letters;
        char base;
    };
    static const Fold kFolds[] = {
        {"àáâãäå", 'a'}, {"č", 'c'},  {"èéêëě", 'e'}, {"ìíîï", 'i'}, {"ñň", 'n'},
        {"òóôõö", 'o'},  {"ř", 'r'},  {"š", 's'},     {"ùúûü", 'u'}, {"ž", 'z'},
    };
    for (const Fold& fold : kFolds) {
        for (const QChar letter : QString::fromUtf8(fold.letters))
            text.replace(letter, QLatin1Char(fold.base));
    }
    return text;
}

QString unitsReplaced(QString text)
{
    text.replace(kMicro, QLatin1Char('u'));
    text.replace(kOhmSign, QLatin1Char('{'));
    text.replace(kOmega, QLatin1Char('{'));
    text.replace(kDegree, QLatin1Char('}'));
    return text;
}

std::string joinedMisc(const QStringList& items)
{
    if (items.isEmpty())
        return kEmpty;
    std::string out;
    for (const QString& item : items) {
        out += bytes(unitsReplaced(item));
        out += ' ';
    }
    return out;
}

std::string orPlus(const std::string& text)
{
    return text.empty() ? std::string(kEmpty) : text;
}

// A field of the trigger text that holds the trigger edge's sign alone, blanks aside.
bool isEdgeField(const QString& field)
{
    const QString sign = field.trimmed();
    return sign == QLatin1String("+") || sign == QLatin1String("-") || sign == QLatin1String("+/-");
}

// Each sign to its word, in one pass: a word may itself hold a sign.
QString edgeWords(const QString& field)
{
    QString out;
    for (const QChar c : field) {
        if (c == QLatin1Char('+'))
            out += QObject::tr("pos");
        else if (c == QLatin1Char('-'))
            out += QObject::tr("neg");
        else
            out += c;
    }
    return out;
}

bool validChannel(int16_t channel)
{
    return channel >= 0 && channel < 4;
}

} // namespace

void initPelanodeStatus()
{
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusTrigger = kEmpty;
    o_g_statusMisc1 = kEmpty;
    o_g_statusMisc2 = kEmpty;
    o_g_statusBattery = kEmpty;
    o_g_statusWarning = kEmpty;
}

void clearPelanodeViewStatus()
{
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusTrigger = kEmpty;
    o_g_statusMisc1 = kEmpty;
    o_g_statusMisc2 = kEmpty;
    o_g_passfailCounter = kEmpty;
}

void setPelanodeTriggerStatus(QString text)
{
    std::string stored = kEmpty;
    if (!text.isEmpty()) {
        // Only the edge field ("+", "-" or "+/-") turns into words: the hyphens of translated
        // texts ("pre-trig") stay. The commas then become the client's field marks.
        QStringList fields = text.split(QLatin1Char(','));
        for (QString& field : fields) {
            if (isEdgeField(field))
                field = edgeWords(field);
        }
        stored = bytes(folded(fields.join(QLatin1Char('-'))));
    }
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusTrigger = std::move(stored);
}

void setPelanodeLoggerStatus(QString text)
{
    std::string stored = text.isEmpty() ? std::string(kEmpty) : bytes(text);
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusTrigger = std::move(stored);
}

void setPelanodePassfailCounter(QString text)
{
    std::string stored = text.isEmpty() ? std::string(kEmpty) : bytes(text);
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_passfailCounter = std::move(stored);
}

void setPelanodeBattery(int16_t level)
{
    QString text = QObject::tr("Batterie: ") + QString::number(std::abs(static_cast<int>(level))) + QStringLiteral(" %");
    if (level < 0)
        text += QStringLiteral(" - ") + QObject::tr("en charge");
    std::string stored = bytes(folded(text));
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusBattery = std::move(stored);
}

void setPelanodeWarning(QString text)
{
    std::string stored = text.isEmpty() ? std::string(kEmpty) : bytes(folded(text));
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusWarning = std::move(stored);
}

void setPelanodeMisc(QStringList misc1, QStringList misc2)
{
    std::string first = joinedMisc(misc1);
    std::string second = joinedMisc(misc2);
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_statusMisc1 = std::move(first);
    o_g_statusMisc2 = std::move(second);
}

void getPelanodeStatus(std::string& trigger, std::string& misc1, std::string& misc2,
                       std::string& battery, std::string& warning, std::string& passfailCounter)
{
    std::lock_guard<std::mutex> lock(cacheMutex());
    trigger = o_g_statusTrigger;
    misc1 = o_g_statusMisc1;
    misc2 = o_g_statusMisc2;
    battery = o_g_statusBattery;
    warning = o_g_statusWarning;
    passfailCounter = o_g_passfailCounter;
}

void initPelanodeMeterMeas()
{
    std::lock_guard<std::mutex> lock(cacheMutex());
    for (int i = 0; i < 4; ++i) {
        to_g_meterRange[i] = kEmpty;
        to_g_meterCoupling[i] = kEmpty;
        to_g_meterMainMeas[i] = kEmpty;
        to_g_meterAux1Meas[i] = kEmpty;
        to_g_meterAux2Meas[i] = kEmpty;
    }
    o_g_activePower = kEmpty;
    o_g_reactivePower = kEmpty;
    o_g_apparentPower = kEmpty;
    o_g_dpf = kEmpty;
    o_g_aux1Meas = kEmpty;
    o_g_aux2Meas = kEmpty;
}

void setPelanodeMeterMeas(int16_t channel, QString range, QString coupling, QString mainMeas,
                          QString aux1, QString aux2)
{
    if (!validChannel(channel))
        return;
    coupling.replace(QLatin1Char('+'), QLatin1Char('%'));
    aux1.replace(kEAcute, QLatin1Char('e'));
    aux2.replace(kEAcute, QLatin1Char('e'));
    std::string rangeBytes = bytes(unitsReplaced(range));
    std::string couplingBytes = bytes(coupling);
    std::string mainBytes = bytes(unitsReplaced(mainMeas));
    std::string aux1Bytes = bytes(unitsReplaced(aux1));
    std::string aux2Bytes = bytes(unitsReplaced(aux2));
    std::lock_guard<std::mutex> lock(cacheMutex());
    to_g_meterRange[channel] = std::move(rangeBytes);
    to_g_meterCoupling[channel] = std::move(couplingBytes);
    to_g_meterMainMeas[channel] = std::move(mainBytes);
    to_g_meterAux1Meas[channel] = std::move(aux1Bytes);
    to_g_meterAux2Meas[channel] = std::move(aux2Bytes);
}

void getPelanodeMeterMeas(int16_t channel, std::string& range, std::string& coupling,
                          std::string& mainMeas, std::string& aux1, std::string& aux2)
{
    if (!validChannel(channel)) {
        range = coupling = mainMeas = aux1 = aux2 = kEmpty;
        return;
    }
    std::lock_guard<std::mutex> lock(cacheMutex());
    range = orPlus(to_g_meterRange[channel]);
    coupling = orPlus(to_g_meterCoupling[channel]);
    mainMeas = orPlus(to_g_meterMainMeas[channel]);
    aux1 = orPlus(to_g_meterAux1Meas[channel]);
    aux2 = orPlus(to_g_meterAux2Meas[channel]);
}

void setPelanodePowerMeas(TPowerTexts texts)
{
    for (QString* text : {&texts.active, &texts.reactive, &texts.apparent, &texts.dpf, &texts.aux1, &texts.aux2})
        text->replace(kMicro, QLatin1Char('u'));
    texts.aux1.replace(kEAcute, QLatin1Char('e'));
    texts.aux2.replace(kEAcute, QLatin1Char('e'));
    TPowerBytes stored{bytes(texts.active), bytes(texts.reactive), bytes(texts.apparent),
                       bytes(texts.dpf),    bytes(texts.aux1),     bytes(texts.aux2)};
    std::lock_guard<std::mutex> lock(cacheMutex());
    o_g_activePower = std::move(stored.active);
    o_g_reactivePower = std::move(stored.reactive);
    o_g_apparentPower = std::move(stored.apparent);
    o_g_dpf = std::move(stored.dpf);
    o_g_aux1Meas = std::move(stored.aux1);
    o_g_aux2Meas = std::move(stored.aux2);
}

void getPelanodePowerMeas(TPowerBytes& texts)
{
    std::lock_guard<std::mutex> lock(cacheMutex());
    texts.active = orPlus(o_g_activePower);
    texts.reactive = orPlus(o_g_reactivePower);
    texts.apparent = orPlus(o_g_apparentPower);
    texts.dpf = orPlus(o_g_dpf);
    texts.aux1 = orPlus(o_g_aux1Meas);
    texts.aux2 = orPlus(o_g_aux2Meas);
}
