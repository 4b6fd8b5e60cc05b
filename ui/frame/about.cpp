#include "ui/frame/about.h"

#include "board/board.h"
#include "board/systools.h"
#include "hardware/CmdesBase.h"
#include "hardware/fpga.h"
#include "ui/frame/homeview.h"

#include <QRegularExpression>

#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr unsigned short kFpgaVersionRegister = 99;
const char* const kPelanodeVersion = "3.05";

// Regular files of the board's /opt, in directory order; links and folders are not programs.
std::vector<std::string> programsOfOpt()
{
    std::vector<std::string> names;
    const std::string dir = boardPath("/opt");
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d)) {
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN) {
            // Some file systems give no type.
            struct stat st {};
            regular = ::lstat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
        }
        if (regular)
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    return names;
}

} // namespace

About::About(QQuickItem* parent)
    : QQuickItem(parent)
    , fpga_(QStringLiteral("?"))
{
    const std::vector<std::string> names = programsOfOpt();
    // Asked side by side, directly (no shell: a file name is never a command).
    std::vector<TProgramLine> programs;
    for (const std::string& name : names)
        programs.push_back({"/opt/" + name, {"-V"}, false, {}});
    readFirstLines(programs, kVersionLineChars, kVersionWaitMs);
    static const QRegularExpression lineEnds(QStringLiteral("[\n\r]"));
    for (size_t i = 0; i < programs.size(); ++i) {
        if (!programs[i].answered)
            continue;
        QString line = QString::fromLocal8Bit(programs[i].line.c_str());
        line.remove(lineEnds);
        versions_ << QString::fromLocal8Bit(names[i].c_str()) + QStringLiteral(" : ") + line;
    }
    versions_ << QStringLiteral("Pelanode : ") + QLatin1String(kPelanodeVersion);
    versions_ << QStringLiteral("FPGA : ") + fpga() + QStringLiteral(" , HW : ") + hardware();
    versions_.sort(Qt::CaseInsensitive);
    if (po_g_homeView)
        connect(po_g_homeView, &HomeView::createInstrumentSignal, this, &About::screenRazSlot, Qt::UniqueConnection);
}

void About::componentComplete()
{
    QQuickItem::componentComplete();
    // A root loaded on its own (tests) is known only once the item is placed in it.
    if (auto* view = qobject_cast<HomeView*>(window()))
        connect(view, &HomeView::createInstrumentSignal, this, &About::screenRazSlot, Qt::UniqueConnection);
}

QString About::fpga()
{
    const uint32_t r = TFpga::getSpiRegister(kFpgaVersionRegister);
    fpga_ = QString::number(r >> 8) + QLatin1Char('.') + QString::number(r & 0xFF, 16).toUpper();
    return fpga_;
}

QString About::hardware()
{
    const int ids[] = {ETAT_BOARD_CODE, ETAT_BANDWIDTH_VARIANT, 7, ETAT_TWO_CHANNEL_MODEL};
    QStringList parts;
    for (int id : ids)
        parts << QString::number(EtatLogique(static_cast<TEtatLogiqueIdentifier>(id)));
    hardware_ = parts.join(QLatin1Char('/'));
    return hardware_;
}

void About::screenRazSlot()
{
    deleteLater();
}
