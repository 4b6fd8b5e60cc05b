// A locale whose decimal separator is a comma, for the tests that check numbers keep their point.
#pragma once

#include <string>

// The name of a decimal-comma locale: an installed one, or one compiled into dir with localedef
// (then *locpath is set to dir, and LOCPATH must point there while it is used). Empty when none
// can be had (the package "locales" missing).
std::string decimalCommaLocale(const std::string& dir, std::string* locpath);

// For the scope of the object, LC_NUMERIC of this process is a decimal-comma locale (compiled
// under dir when none is installed); ok() is false when none could be had. The "C" locale and
// LOCPATH come back with the object's end.
class TDecimalCommaNumeric {
public:
    explicit TDecimalCommaNumeric(const std::string& dir);
    ~TDecimalCommaNumeric();
    TDecimalCommaNumeric(const TDecimalCommaNumeric&) = delete;
    TDecimalCommaNumeric& operator=(const TDecimalCommaNumeric&) = delete;

    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }

private:
    std::string name_;
    std::string locpath_;
    bool ok_ = false;
};
