#include "FormFont.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QStringList>
#include <QWidget>

// Tahoma comes last, as every Windows and Wine has it: without any of the others the toolkit
// would take the first family it knows, under Wine a symbol font.
QFont FormFont() {
    static const bool substituted = [] {
        QFont::insertSubstitutions(
            QStringLiteral("MS Sans Serif"),
            QStringList{QStringLiteral("Microsoft Sans Serif"),
                        QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial"),
                        QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed"),
                        QStringLiteral("Tahoma")});
        return true;
    }();
    (void)substituted;
    return QFont(QStringLiteral("MS Sans Serif"), 8);
}

void SetFormFont(QWidget* window) {
    const QFont font = FormFont();
    window->setFont(font);
    for (QComboBox* list : window->findChildren<QComboBox*>()) {
        list->view(); // makes the drop-down part, so that it is given the font too
    }
    for (QWidget* control : window->findChildren<QWidget*>()) {
        control->setFont(font);
    }
}
