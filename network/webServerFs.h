// The web server's pages: the built-in files, the generated pages and the error page.
#pragma once

#include "network/serverHTTP.h"

#include <string>

// Built-in files, searched in table order by prefix of the request path.
constexpr int kHttpPageCount = 8;
extern const THttpPage wsHttpPage[kHttpPageCount];

// A page function builds its page into out (replacing what it held) and fills page with it
// (data = out's bytes, mtime = now); it returns page, or null when the page cannot be made.
using THttpPageFunction = THttpPage* (*)(const char* method, THttpParam* query, THttpHeader* headers,
                                         std::string& out, THttpPage* page);
struct THttpPageDyn {
    const char* path;
    THttpPageFunction function;
};
constexpr int kHttpPageDynCount = 3;
extern const THttpPageDyn wsHttpPageDyn[kHttpPageDynCount];

// Error page: the first query pair's value is the status text, the second's the request path
// (HTML-escaped here); a missing pair, name or value prints "-".
THttpPage* httpFctError(const char* method, THttpParam* query, THttpHeader* headers, std::string& out,
                        THttpPage* page);
// The instrument's identification (live calibration record, with the serial number).
THttpPage* httpFctInstrument(const char* method, THttpParam* query, THttpHeader* headers, std::string& out,
                             THttpPage* page);
// The Java Web Start descriptors; both need a valid "host" header, else null.
THttpPage* httpFctMorvadin(const char* method, THttpParam* query, THttpHeader* headers, std::string& out,
                           THttpPage* page);
THttpPage* httpFctPelanode(const char* method, THttpParam* query, THttpHeader* headers, std::string& out,
                           THttpPage* page);

// A Host value the descriptors accept: [A-Za-z0-9.:-[]]+.
bool httpHostValid(const char* host);

// Board paths of the pictures the pages link to.
constexpr const char* kHttpPicturesDir = "/images";
constexpr const char* kHttpLogoPicture = "/images/pelanode.gif";
constexpr const char* kHttpSplashPicture = "/images/splash.jpg";
// The pictures' bytes, as installed.
std::string httpLogoPictureBytes();
std::string httpSplashPictureBytes();

// Simulated board: adds the seeding step that installs the two pictures under /images when a
// root is first seeded. Call before seedBoardRoot(); does nothing in the board build.
void registerWebPictureSeed();
