#pragma once

#include "platform/InstalledApp.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QLineEdit;
class QListWidget;

// The installed applications to choose from, filtered as the user types;
// several may be chosen at once.
class AppPicker : public QDialog {
    Q_OBJECT
public:
    AppPicker(const QList<InstalledApp>& apps, QWidget* parent = nullptr);

    // The ids of the chosen applications, in list order.
    QStringList chosenIds() const;

    // Runs the dialog; the chosen ids, or none when cancelled.
    static QStringList choose(const QList<InstalledApp>& apps, QWidget* parent);

private:
    void filter(const QString& text);

    QLineEdit* m_search;
    QListWidget* m_list;
};
