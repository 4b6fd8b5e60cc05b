// The harmonic measurement table and its export: the six texts of each status and order, the
// rows with and without the power display, the exact bytes of the export blocks, the export
// replaced whole while readers copy it, what is left when it cannot be written, and the table's
// document with its order buttons and keyboard.
#include "core/files.h"
#include "tests/support/locales.h"
#include "tests/ui/harmonic/harmonic_fixture.h"
#include "tests/ui/support/qmlharness.h"
#include "ui/harmonic/harmonicmeas.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

class HarmonicMeasTest : public HarmonicFixture {
protected:
    std::string exportText() { return readHostFile(hostPath("/media/private/harmonic.txt")); }

    static QStringList rowsOf(const HarmonicMeas& m, int i)
    {
        return m.measurementList().value(i).toStringList();
    }
};

HarmonicMeas::Snapshot snapshot(const THarmonicResults& r, const char* unit = "V")
{
    return HarmonicMeas::Snapshot{r, 1.0f, QString::fromUtf8(unit)};
}

std::string joined(const QStringList& texts)
{
    return texts.join(QLatin1Char('|')).toStdString();
}

const std::string kDegree = "\u00b0";

} // namespace

TEST_F(HarmonicMeasTest, RowTextsOfEachStatusAndOrder)
{
    THarmonicResults flat = measured();
    flat.distortion = NAN;  // 0 / 0 of a flat input
    flat.entries[3].ratio = INFINITY;
    THarmonicResults noPeriod = measured();
    noPeriod.entries[5].period = 0.0f;
    THarmonicResults nearZeroPhase = measured();
    nearZeroPhase.entries[3].phase = -0.4f;
    THarmonicResults overload = measured();
    overload.status = HARMONIC_OVERRANGE;
    THarmonicResults unknownStatus = measured();
    unknownStatus.status = 7;

    const struct {
        const char* what;
        THarmonicResults record;
        const char* unit;
        int order;
        bool power;
        std::string texts;
    } rows[] = {
        {"order 1, the fundamental largest", measured(), "V", 1, false,
         "Vrms=230.0 V|THD=3.1 %|ratio=100.0 %|Ph=0 " + kDegree + "|F=50.0 Hz|230.0 V"},
        {"order 3", measured(), "V", 3, false,
         "Vrms=230.0 V|THD=3.1 %|ratio=33.3 %|Ph=-3 " + kDegree + "|F=150 Hz|76.67 V"},
        {"order 0 reads the DC entry, no period", measured(), "V", 0, false,
         "Vrms=230.0 V|THD=3.1 %|ratio=0.0 %|Ph=0 " + kDegree + "|F=----|0.000 V"},
        {"a period of 0: no period found", noPeriod, "V", 5, false,
         "Vrms=230.0 V|THD=3.1 %|ratio=20.0 %|Ph=-5 " + kDegree + "|F=----|46.00 V"},
        {"a phase that rounds to zero", nearZeroPhase, "V", 3, false,
         "Vrms=230.0 V|THD=3.1 %|ratio=33.3 %|Ph=0 " + kDegree + "|F=150 Hz|76.67 V"},
        {"order 64 lies past the record", measured(), "V", 64, false,
         "Vrms=230.0 V|THD=3.1 %|ratio=----|Ph=----|F=----|----"},
        {"order 200", measured(), "V", 200, false, "Vrms=230.0 V|THD=3.1 %|ratio=----|Ph=----|F=----|----"},
        {"the ohm code of the unit", measured(), "{", 1, false,
         "Vrms=230.0 \u03a9|THD=3.1 %|ratio=100.0 %|Ph=0 " + kDegree + "|F=50.0 Hz|230.0 \u03a9"},
        {"values that are no number", flat, "V", 3, false,
         "Vrms=230.0 V|THD=---- %|ratio=---- %|Ph=-3 " + kDegree + "|F=150 Hz|76.67 V"},
        {"overload", overload, "V", 1, false, "Vrms=-OL-|THD=-OL-|ratio=-OL-|Ph=-OL-|F=-OL-|-OL-"},
        {"not computed", notComputed(), "V", 1, false, "Vrms=----|THD=----|ratio=----|Ph=----|F=----|----"},
        {"an unknown status", unknownStatus, "V", 1, false, "Vrms=----|THD=----|ratio=----|Ph=----|F=----|----"},
        {"the power row", measured(), "W", 3, true, "||ratio=33.3 %|Ph=-3 " + kDegree + "|F=150 Hz|"},
        {"the power row overloaded", overload, "W", 3, true, "||ratio=-OL-|Ph=-OL-|F=-OL-|"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(joined(HarmonicMeas::rowTexts(snapshot(row.record, row.unit), row.order, row.power)), row.texts);
    }
}

TEST_F(HarmonicMeasTest, FourRowsAndThePowerRowWhenThePowerDisplayIsOn)
{
    record(0) = measured();
    record(1).status = HARMONIC_OVERRANGE;
    record(4) = measured();
    HarmonicMeas meas;
    ASSERT_EQ(meas.measurementList().size(), 4);
    EXPECT_EQ(rowsOf(meas, 0).value(0).toStdString(), "Vrms=230.0 V");
    EXPECT_EQ(rowsOf(meas, 1).value(5).toStdString(), "-OL-");
    EXPECT_EQ(rowsOf(meas, 2).value(5).toStdString(), "----");

    data.harmPower = 1;
    int changed = 0;
    QObject::connect(&meas, &HarmonicMeas::measurementListChanged, [&changed] { ++changed; });
    meas.screenRefreshSlot();
    EXPECT_EQ(changed, 1);
    ASSERT_EQ(meas.measurementList().size(), 5);
    EXPECT_EQ(joined(rowsOf(meas, 4)), "||ratio=100.0 %|Ph=0 " + kDegree + "|F=50.0 Hz|");

    // Without links every row reads "not computed".
    setupLinks().harmonicResultsPtr = nullptr;
    meas.screenRefreshSlot();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rowsOf(meas, i).value(0).toStdString(), "Vrms=----");
}

TEST_F(HarmonicMeasTest, OrderColoursAndRequests)
{
    data.traceColorCh1 = 1;
    data.traceColorCh2 = 2;
    data.traceColorCh3 = 5;
    data.traceColorCh4 = 3;
    data.harmOrder = 7;
    HarmonicMeas meas;
    EXPECT_EQ(meas.harmonicOrder(), 7);
    EXPECT_EQ(meas.colorCh1(), QColor("#7F7FFF"));
    EXPECT_EQ(meas.colorCh2(), QColor("#7FFF7F"));
    EXPECT_EQ(meas.colorCh3(), QColor("#FF7FFF"));
    EXPECT_EQ(meas.colorCh4(), QColor("#FF7F7F"));
    EXPECT_EQ(meas.colorPower(), QColor("yellow"));

    int order = 0;
    QObject::connect(&meas, &HarmonicMeas::harmonicOrderChanged, [&order] { ++order; });
    meas.setHarmonicOrder(9);
    EXPECT_EQ(meas.harmonicOrder(), 9);
    EXPECT_EQ(order, 0);
    const auto sent = uitest::takeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, 1);
    EXPECT_EQ(sent[0].code, param::harmOrder);
    EXPECT_EQ(sent[0].auxValue, 0);
    EXPECT_EQ(sent[0].intValue, 9);
    EXPECT_EQ(sent[0].floatValue, 0.0f);
    EXPECT_EQ(sent[0].senderId, senderValue(MENU_id));

    // The controller's notice brings the setup's order back; other notices leave it.
    emit home_->screenMajSignal(param::harmPower);
    EXPECT_EQ(meas.harmonicOrder(), 9);
    emit home_->screenMajSignal(param::harmOrder);
    EXPECT_EQ(meas.harmonicOrder(), 7);
    EXPECT_EQ(order, 1);
}

TEST_F(HarmonicMeasTest, TheListIsPublishedAfterTheResultsLockIsReleased)
{
    HarmonicMeas meas;
    bool free = false;
    QObject::connect(&meas, &HarmonicMeas::measurementListChanged, [&free] {
        free = pthread_mutex_trylock(&o_g_autoMeasMutex) == 0;
        if (free)
            pthread_mutex_unlock(&o_g_autoMeasMutex);
    });
    emit home_->screenRefreshSignal();
    EXPECT_TRUE(free);
}

// ---- the export -----------------------------------------------------------------------------

namespace {

// A block built field by field from the record's fixture rules: name, heads, value line, the
// three rows of orders 1..63 (each field given by `field`).
std::string expectedBlock(const std::string& name, const std::string& unit, const std::string& values,
                          std::string (*field)(int row, int n))
{
    std::string b = name + "\r\nVrms(" + unit + "),THD(%),Freq(Hz)\n" + values + "\r\n-,F";
    for (int n = 2; n < 64; ++n)
        b += ",H" + std::to_string(n);
    b += "\r\n";
    const std::string heads[3] = {"Ratio(%)", "Phase(%)", "Vrms(" + unit + ")"};
    for (int row = 0; row < 3; ++row) {
        b += heads[row];
        for (int n = 1; n < 64; ++n)
            b += "," + field(row, n);
        b += "\r\n";
    }
    return b;
}

std::string measuredField(int row, int n)
{
    char text[32];
    if (row == 0)
        std::snprintf(text, sizeof text, "%.1f", double(100.0f * (1.0f / n)));
    else if (row == 1)
        std::snprintf(text, sizeof text, "%d.000000", n == 1 ? 0 : -n);
    else
        std::snprintf(text, sizeof text, "%.6f", double(230.0f / n));
    return text;
}

} // namespace

TEST_F(HarmonicMeasTest, ExactBlocksOfEachStatus)
{
    const std::string valid = HarmonicMeas::blockText("CH1", snapshot(measured())).toStdString();
    EXPECT_EQ(valid.substr(0, 64), "CH1\r\nVrms(V),THD(%),Freq(Hz)\n230.000000,3.1,50.000000\r\n-,F,H2,H3");
    EXPECT_EQ(valid, expectedBlock("CH1", "V", "230.000000,3.1,50.000000", measuredField));
    EXPECT_NE(valid.find("\r\nRatio(%),100.0,50.0,33.3,25.0,"), std::string::npos);

    THarmonicResults overload = measured();
    overload.status = HARMONIC_OVERRANGE;
    EXPECT_EQ(HarmonicMeas::blockText("CH2", snapshot(overload)).toStdString(),
              expectedBlock("CH2", "V", "-OL-,-OL-,-OL-", [](int, int) { return std::string("-OL-"); }));
    EXPECT_EQ(HarmonicMeas::blockText("Power", snapshot(notComputed(), "W")).toStdString(),
              expectedBlock("Power", "W", "----,----,----", [](int, int) { return std::string("----"); }));

    // No period at order 1 ends the value line in a single 0; values that are no number read
    // "----" in their place.
    THarmonicResults odd = measured();
    odd.entries[1].period = 0.0f;
    odd.distortion = NAN;
    odd.entries[2].amplitude = INFINITY;
    const std::string text = HarmonicMeas::blockText("CH3", snapshot(odd)).toStdString();
    EXPECT_NE(text.find("\n230.000000,----,0\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nVrms(V),230.000000,----,76.666664,"), std::string::npos) << text;
}

TEST_F(HarmonicMeasTest, TheExportHoldsFiveBlocksWhateverThePowerDisplay)
{
    record(0) = measured();
    record(3).status = HARMONIC_OVERRANGE;
    const std::string powerUnit = GetVerticalUnit(trace(4), SCALE_SCOPE, true).toStdString();

    // Also under a decimal-comma locale: the numbers keep their point.
    for (bool underComma : {false, true}) {
        SCOPED_TRACE(underComma ? "decimal comma" : "C locale");
        if (underComma) {
            TDecimalCommaNumeric comma(root_ + "/locale");
            ASSERT_TRUE(comma.ok()) << "no decimal-comma locale could be had (package locales)";
            HarmonicMeas meas;
        } else {
            HarmonicMeas meas;
        }
        const std::string text = exportText();
        ASSERT_GT(text.size(), 151u);
        EXPECT_EQ(text.substr(0, 4), ".txt");
        EXPECT_EQ(text.substr(126, 2), "\r\n");
        EXPECT_EQ(text.substr(128, 23), "\r\nHarmonic analysis\r\n\r\n");
        std::string blocks = HarmonicMeas::blockText("CH1", snapshot(measured())).toStdString();
        blocks += expectedBlock("CH2", "V", "----,----,----", [](int, int) { return std::string("----"); });
        blocks += expectedBlock("CH3", "V", "----,----,----", [](int, int) { return std::string("----"); });
        blocks += expectedBlock("CH4", "V", "-OL-,-OL-,-OL-", [](int, int) { return std::string("-OL-"); });
        blocks += expectedBlock("Power", powerUnit, "----,----,----", [](int, int) { return std::string("----"); });
        EXPECT_EQ(text.substr(151), blocks);
    }
}

TEST_F(HarmonicMeasTest, ReadersOnlyEverSeeAWholeExport)
{
    record(0) = measured();
    HarmonicMeas meas;
    // Two sets of results of different lengths, one after the other.
    const THarmonicResults shortSet = notComputed();

    std::atomic<bool> done{false};
    std::atomic<int> partial{0}, missing{0}, saves{0}, badSaves{0};
    const std::string path = hostPath("/media/private/harmonic.txt");
    std::thread reader([&] {
        while (!done) {
            const std::string text = readWholeFile(path);
            if (text.empty())
                ++missing;
            else if (text.size() < 151 || text.compare(text.size() - 2, 2, "\r\n") != 0 ||
                     text.find("\r\nPower\r\n") == std::string::npos)
                ++partial;
        }
    });
    std::thread saver([&] {
        for (int i = 0; !done; ++i) {
            const std::string name = "/media/user/copy" + std::to_string(i) + ".txt";
            const int result = HarmonicSaveAll(&data, name.c_str(), "x");
            ++saves;
            const std::string copy = readWholeFile(hostPath(name.c_str()));
            if (result != 0 || copy.size() < 151 || copy.compare(copy.size() - 2, 2, "\r\n") != 0 ||
                copy.find("\r\nPower\r\n") == std::string::npos)
                ++badSaves;
            ::unlink(hostPath(name.c_str()).c_str());
        }
    });
    for (int i = 0; i < 1000; ++i) {
        record(1) = i % 2 ? measured() : shortSet;
        meas.screenRefreshSlot();
    }
    done = true;
    reader.join();
    saver.join();
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(partial, 0);
    EXPECT_GT(saves, 0);
    EXPECT_EQ(badSaves, 0);
}

TEST_F(HarmonicMeasTest, AnExportThatCannotBeWrittenLeavesNoneButATable)
{
    record(0) = measured();
    { HarmonicMeas first; }
    ASSERT_FALSE(exportText().empty());
    // The working file's place is taken: the export cannot be created.
    ASSERT_EQ(::mkdir(hostPath("/media/private/harmonic.tmp").c_str(), 0777), 0);
    HarmonicMeas meas;
    struct stat st;
    EXPECT_NE(::stat(hostPath("/media/private/harmonic.txt").c_str(), &st), 0);
    ASSERT_EQ(meas.measurementList().size(), 4);
    EXPECT_EQ(rowsOf(meas, 0).value(0).toStdString(), "Vrms=230.0 V");
    EXPECT_EQ(HarmonicSaveAll(&data, "h", "x"), 22);
}

// ---- the table's document -------------------------------------------------------------------

namespace {

class HarmonicMeasQmlTest : public HarmonicFixture {
protected:
    void TearDown() override
    {
        delete root_;
        delete engine_;
        HarmonicFixture::TearDown();
    }

    // The table under a stand-in root window, shown.
    QQuickItem* load()
    {
        engine_ = new QQmlEngine();
        QQmlComponent component(engine_);
        component.setData(standInRoot("HarmonicMeas { objectName: \"table\"; width: 730 }"),
                          QUrl(QStringLiteral("qrc:/StandInRoot.qml")));
        root_ = component.create();
        auto* window = qobject_cast<QQuickWindow*>(root_);
        if (!window) {
            ADD_FAILURE() << component.errorString().toStdString();
            return nullptr;
        }
        window->show();
        processEventsUntil([window] { return window->isExposed(); });
        uitest::takeRequests();
        return window->contentItem();
    }

    QQmlEngine* engine_ = nullptr;
    QObject* root_ = nullptr;
};

} // namespace

TEST_F(HarmonicMeasQmlTest, RowsOrderButtonsAndKeyboard)
{
    record(0) = measured();
    data.harmOrder = 63;
    QQuickItem* content = load();
    ASSERT_NE(content, nullptr);
    QQuickItem* table = need(content, "table");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->height(), 165);
    EXPECT_NE(need(content, "row3"), nullptr);
    EXPECT_EQ(findItem(content, QStringLiteral("row4")), nullptr);
    EXPECT_EQ(need(content, "orderTitle")->property("text").toString().toStdString(), "HARMONIC 63");

    // "+" stays within 63; "-" asks for 62.
    clickKey(content, "orderPlus");
    EXPECT_TRUE(uitest::takeRequests().empty());
    clickKey(content, "orderMinus");
    auto sent = uitest::takeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].code, param::harmOrder);
    EXPECT_EQ(sent[0].intValue, 62);
    clickKey(content, "orderPlus");
    sent = uitest::takeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].intValue, 63);

    // The keyboard opens on the order with its limits and hands the choice back.
    takeLog(root_);
    clickKey(content, "orderTitle");
    const QStringList log = takeLog(root_);
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log[0].toStdString(), "openNum 63 1 63 0");
    QMetaObject::invokeMethod(root_, "sigCloseNumKey", Q_ARG(double, 12.0));
    sent = uitest::takeRequests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].intValue, 12);
    // A keyboard opened for another field posts nothing here.
    QMetaObject::invokeMethod(root_, "sigCloseNumKey", Q_ARG(double, 20.0));
    EXPECT_TRUE(uitest::takeRequests().empty());

    // The confirmed order comes back through the setup; a refresh follows the list.
    data.harmPower = 1;
    data.harmOrder = 12;
    emit home_->screenMajSignal(param::harmOrder);
    emit home_->screenRefreshSignal();
    processEventsFor(30);
    EXPECT_EQ(need(content, "orderTitle")->property("text").toString().toStdString(), "HARMONIC 12");
    EXPECT_NE(need(content, "row4"), nullptr);
}
