#include "network/webServerFs.h"

#include "board/board.h"
#include "core/sysserv.h"
#include "hardware/calibration.h"
#include "network/webresources_data.h"

#include <cstring>
#include <initializer_list>
#include <sys/stat.h>

const THttpPage wsHttpPage[kHttpPageCount] = {
    {"/Morvadin.jar", kWeb_Morvadin_jar, kWeb_Morvadin_jar_size, 1554968993},
    {"/index.html", kWeb_index_html, kWeb_index_html_size, 1602755455},
    {"/favicon.ico", kWeb_favicon_ico, kWeb_favicon_ico_size, 1554968993},
    {"/busAnalysisResult.css", kWeb_busAnalysisResult_css, kWeb_busAnalysisResult_css_size, 1554968993},
    {"/PelanodeIV.jar", kWeb_PelanodeIV_jar, kWeb_PelanodeIV_jar_size, 1603101406},
    {"/pelanode.html", kWeb_index_html, kWeb_index_html_size, 1602754654},
    {"/morvadin.html", kWeb_morvadin_html, kWeb_morvadin_html_size, 1602755243},
    {"/stylesheet.css", kWeb_stylesheet_css, kWeb_stylesheet_css_size, 1554968993},
};

const THttpPageDyn wsHttpPageDyn[kHttpPageDynCount] = {
    {"/Instrument.html", httpFctInstrument},
    {"/morvadin.jnlp", httpFctMorvadin},
    {"/pelanode.jnlp", httpFctPelanode},
};

namespace {

struct TSubstitution {
    const char* marker;
    const char* value;
};

// Copies a page template, replacing each "@NAME@" marker by its value.
void fillTemplate(std::string& out, const char* text, size_t length, std::initializer_list<TSubstitution> values)
{
    out.clear();
    out.reserve(length + 128);
    size_t i = 0;
    while (i < length) {
        bool replaced = false;
        if (text[i] == '@') {
            for (const TSubstitution& s : values) {
                size_t n = std::strlen(s.marker);
                if (i + n <= length && std::memcmp(text + i, s.marker, n) == 0) {
                    out += s.value;
                    i += n;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
}

THttpPage* finish(std::string& out, THttpPage* page, const char* path)
{
    page->path = path;
    page->data = out.data();
    page->length = static_cast<int32_t>(out.size());
    page->mtime = static_cast<int32_t>(time(nullptr));
    return page;
}

std::string htmlEscaped(const char* text)
{
    std::string s;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '&': s += "&amp;"; break;
        case '<': s += "&lt;"; break;
        case '>': s += "&gt;"; break;
        case '"': s += "&quot;"; break;
        case '\'': s += "&#39;"; break;
        default: s += *p;
        }
    }
    return s;
}

const char* pairValue(THttpParam* query, int index)
{
    if (!query)
        return nullptr;
    for (int i = 0; i < index; ++i)
        if (!query[i].name)
            return nullptr;
    return query[index].name ? query[index].value : nullptr;
}

// The descriptors put the host into a codebase with all permissions: only a plain host name,
// address or bracketed IPv6 address with an optional port is taken.
const char* validHost(THttpHeader* headers)
{
    const char* host = headers ? getHttpHeaderField(headers, "host") : nullptr;
    return httpHostValid(host) ? host : nullptr;
}

} // namespace

bool httpHostValid(const char* host)
{
    if (!host || !*host)
        return false;
    for (const char* p = host; *p; ++p) {
        char c = *p;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == ':'
                  || c == '-' || c == '[' || c == ']';
        if (!ok)
            return false;
    }
    return true;
}

THttpPage* httpFctError(const char*, THttpParam* query, THttpHeader*, std::string& out, THttpPage* page)
{
    const char* status = pairValue(query, 0);
    const char* file = pairValue(query, 1);
    const std::string escapedStatus = status ? htmlEscaped(status) : "-";
    const std::string escapedFile = file ? htmlEscaped(file) : "-";
    fillTemplate(out, kWeb_error_html, kWeb_error_html_size,
                 {{"@STATUS@", escapedStatus.c_str()}, {"@FILE@", escapedFile.c_str()}});
    return finish(out, page, "/Error.html");
}

THttpPage* httpFctInstrument(const char*, THttpParam*, THttpHeader*, std::string& out, THttpPage* page)
{
    char identification[kIdentificationSize] = {};
    GetIdentification(&param_calibr, identification, nullptr, true, false);
    fillTemplate(out, kWeb_instrument_html, kWeb_instrument_html_size,
                 {{"@IDENTIFICATION@", htmlEscaped(identification).c_str()}});
    return finish(out, page, "/Instrument.html");
}

THttpPage* httpFctMorvadin(const char*, THttpParam*, THttpHeader* headers, std::string& out, THttpPage* page)
{
    const char* host = validHost(headers);
    if (!host)
        return nullptr;
    fillTemplate(out, kWeb_morvadin_jnlp, kWeb_morvadin_jnlp_size, {{"@HOST@", host}});
    return finish(out, page, "/morvadin.jnlp");
}

THttpPage* httpFctPelanode(const char*, THttpParam*, THttpHeader* headers, std::string& out, THttpPage* page)
{
    const char* host = validHost(headers);
    if (!host)
        return nullptr;
    fillTemplate(out, kWeb_pelanode_jnlp, kWeb_pelanode_jnlp_size, {{"@HOST@", host}});
    return finish(out, page, "/pelanode.jnlp");
}

std::string httpLogoPictureBytes()
{
    return std::string(kWeb_pelanode_gif, static_cast<size_t>(kWeb_pelanode_gif_size));
}

std::string httpSplashPictureBytes()
{
    return std::string(kWeb_splash_jpg, static_cast<size_t>(kWeb_splash_jpg_size));
}

void registerWebPictureSeed()
{
    if (!kSimulatedBoard)
        return;
    registerBoardSeedStep("web-pictures", [] {
        ::mkdir(boardPath(kHttpPicturesDir).c_str(), 0777);
        writeBoardFile(kHttpLogoPicture, httpLogoPictureBytes());
        writeBoardFile(kHttpSplashPicture, httpSplashPictureBytes());
    });
}
