#include "tests/support/locales.h"

#include <clocale>
#include <cstdlib>
#include <langinfo.h>
#include <locale.h>

std::string decimalCommaLocale(const std::string& dir, std::string* locpath)
{
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8", "fr_FR.utf8"}) {
        if (locale_t l = ::newlocale(LC_NUMERIC_MASK, name, nullptr)) {
            ::freelocale(l);
            return name;
        }
    }
    const std::string command = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(("mkdir -p " + dir).c_str()) != 0 || std::system(command.c_str()) != 0)
        return "";
    *locpath = dir;
    return "de_DE.UTF-8";
}

TDecimalCommaNumeric::TDecimalCommaNumeric(const std::string& dir)
{
    name_ = decimalCommaLocale(dir, &locpath_);
    if (name_.empty())
        return;
    if (!locpath_.empty())
        ::setenv("LOCPATH", locpath_.c_str(), 1);
    ok_ = std::setlocale(LC_NUMERIC, name_.c_str()) != nullptr && *::nl_langinfo(RADIXCHAR) == ',';
}

TDecimalCommaNumeric::~TDecimalCommaNumeric()
{
    std::setlocale(LC_NUMERIC, "C");
    if (!locpath_.empty())
        ::unsetenv("LOCPATH");
}
