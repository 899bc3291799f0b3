#include "App/Application/QtTranslations.hpp"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarvik::QtTranslations {

bool install(QCoreApplication& application) {
    constexpr const char* name = "tarvikQtTranslator";
    if (application.findChild<QTranslator*>(name, Qt::FindDirectChildrenOnly) != nullptr)
        return true;
    auto* translator = new QTranslator(&application);
    translator->setObjectName(name);
    // The program's own texts are Japanese for every locale; Qt's must match them.
    if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), "qtbase", "_",
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace tarvik::QtTranslations
