#pragma once

#include "app/mainwindow.h"
#include "search/searchwindow.h"

#include <QLineEdit>

// The program's two forms as a test looks at them: the main window, and a
// search dialog that hands back into an address field of its own.
struct BothForms
{
    // The widget of that object name in the search dialog or in the main window.
    QWidget *widget(bool inDialog, const QString &name)
    {
        return (inDialog ? static_cast<QWidget *>(&dialog) : &window)->findChild<QWidget *>(name);
    }

    MainWindow window;
    QLineEdit addresses;
    searchWindow dialog{nullptr, QStringLiteral("sana"), &addresses};
};
