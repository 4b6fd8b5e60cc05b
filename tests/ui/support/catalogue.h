// A test that installs the program's catalogue (and its font) gives both back at its end: the
// tests after it read the texts' keys and the default font, as when each ran alone.
#pragma once

#include "core/root.h"

#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QTranslator>

class TCatalogueGuard {
public:
    TCatalogueGuard() : font_(QGuiApplication::font()) {}
    ~TCatalogueGuard()
    {
        if (po_g_appTranslator) {
            QCoreApplication::removeTranslator(po_g_appTranslator);
            delete po_g_appTranslator;
            po_g_appTranslator = nullptr;
        }
        QGuiApplication::setFont(font_);
    }
    TCatalogueGuard(const TCatalogueGuard&) = delete;
    TCatalogueGuard& operator=(const TCatalogueGuard&) = delete;

private:
    QFont font_;
};
