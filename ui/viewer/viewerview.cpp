#include "ui/viewer/viewerview.h"

#include "core/gest_db.h"
#include "core/requests.h"
#include "ui/frame/homeview.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace {

constexpr size_t kNameBuffer = 200;

bool endsWithRec(const char* name)
{
    const size_t n = std::strlen(name);
    return n >= 4 && std::strcmp(name + n - 4, ".rec") == 0;
}

std::string viewedName()
{
    return std::string(data.loggerFileName, strnlen(data.loggerFileName, sizeof data.loggerFileName));
}

} // namespace

ViewerView::ViewerView(QQuickItem* parent) : QQuickItem(parent)
{
    if (HomeView* home = po_g_homeView) {
        connections_[0] = connect(home, &HomeView::screenMajSignal, this, &ViewerView::screenMajSlot);
        connections_[1] = connect(home, &HomeView::screenRazSignal, this, &ViewerView::screenRazSlot);
    }
    // Emitted by the worker's thread (or by clear() here): the slot runs in the GUI thread.
    connections_[2] = connect(&worker_, &ViewerEventListFactory::eventListCreatedSignal, this,
                              &ViewerView::eventListCreatedSlot, Qt::QueuedConnection);
    createFileList();
}

ViewerView::~ViewerView()
{
    for (const QMetaObject::Connection& c : connections_)
        disconnect(c);
    qDeleteAll(fileList_);
    fileList_.clear();
}

void ViewerView::createFileList()
{
    DIR* dir = ::opendir(".");
    if (!dir)
        return;
    while (dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0 || !endsWithRec(e->d_name))
            continue;
        struct stat st;
        if (::stat(e->d_name, &st) != 0)
            continue;
        fileList_.append(new TFileDate{e->d_name, static_cast<int32_t>(st.st_mtime)});
    }
    ::closedir(dir);
    std::stable_sort(fileList_.begin(), fileList_.end(), TFileDate::lessThan);
}

void ViewerView::postRecall(const char* name)
{
    pipe_dial request{REQ_FILE, fileLoggerRecall, reinterpret_cast<intptr_t>(&worker_), reinterpret_cast<intptr_t>(name),
                      0.0f, senderValue(MENU_id)};
    o_g_consMessageBox.send(&request);
}

void ViewerView::searchClicked()
{
    postRecall(data.loggerFileName);
}

void ViewerView::nextFile()
{
    // The controller reads the name later: a buffer that outlives the call.
    static char tc_l_filename[kNameBuffer];
    displayEventList_.clear();
    const std::string current = viewedName();
    for (int i = 0; i + 1 < fileList_.size(); ++i) {
        if (fileList_[i]->name == current) {
            const std::string& next = fileList_[i + 1]->name;
            const size_t n = std::min(next.size(), kNameBuffer - 1);
            std::memcpy(tc_l_filename, next.data(), n);
            tc_l_filename[n] = '\0';
            postRecall(tc_l_filename);
            return;
        }
    }
}

void ViewerView::previousFile()
{
    static char tc_l_filename[kNameBuffer];
    displayEventList_.clear();
    const std::string current = viewedName();
    for (int i = fileList_.size() - 1; i >= 1; --i) {
        if (fileList_[i]->name == current) {
            const std::string& previous = fileList_[i - 1]->name;
            const size_t n = std::min(previous.size(), kNameBuffer - 1);
            std::memcpy(tc_l_filename, previous.data(), n);
            tc_l_filename[n] = '\0';
            postRecall(tc_l_filename);
            return;
        }
    }
}

void ViewerView::saveEventList(QString)
{
    worker_.saveToFile();
}

void ViewerView::screenMajSlot(int code)
{
    if (code == 0 || code == param::spareWord29) {
        worker_.clear();
        code = param::keyToggleFlag;
    }
    if (code == param::keyToggleFlag) {
        displayFullScreen_ = data.keyToggleFlag != 0;
        emit displayFullScreenChanged();
    } else if (code >= param::eventSource && code <= param::eventDuration) {
        worker_.clear();
    }
}

void ViewerView::screenRazSlot()
{
    deleteLater();
}

void ViewerView::eventListCreatedSlot()
{
    displayEventList_.clear();
    worker_.getEventList(displayEventList_);
    emit dataChanged(displayEventList_.size());
}
