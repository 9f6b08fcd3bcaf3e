#include "FormFont.h"

#include <QStringList>

QFont FormFont() {
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   QStringList{QStringLiteral("Microsoft Sans Serif"),
                                               QStringLiteral("Liberation Sans Narrow"),
                                               QStringLiteral("Arial"),
                                               QStringLiteral("Liberation Sans"),
                                               QStringLiteral("DejaVu Sans Condensed")});
        return true;
    }();
    (void)substituted;
    return QFont(QStringLiteral("MS Sans Serif"), 8);
}
