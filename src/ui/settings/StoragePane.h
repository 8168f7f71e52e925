#pragma once

#include <QWidget>
#include <functional>

class ClipStore;
class FileManager;
class Preferences;
class QLabel;

// How much is stored and where; backups; clearing history or pins.
class StoragePane : public QWidget {
    Q_OBJECT
public:
    StoragePane(Preferences& prefs, ClipStore& store, FileManager& files,
                QWidget* parent = nullptr);

    // The one answer each asks for; the desktop's dialogs by default, so
    // tests replace them. An empty path means cancelled.
    std::function<QString()> chooseExportPath;
    std::function<QString()> chooseImportPath;
    std::function<bool(const QString& title, const QString& text)> confirmClear;

    void exportClips();
    void importClips();
    void clearHistory();
    void clearPinned();
    void revealStore();

    // The result of the last action, empty before the first.
    QString message() const;

    // "Imported N new clips.", and how many of the clips already held the
    // import pushed out of the history limit, when it did.
    static QString importMessage(qsizetype added, qsizetype pushedOut);

private:
    bool confirm(const QString& title, const QString& text);
    void setMessage(const QString& text);
    void refresh();

    Preferences& m_prefs;
    ClipStore& m_store;
    FileManager& m_files;
    QLabel* m_pinned;
    QLabel* m_history;
    QLabel* m_size;
    QLabel* m_location;
    QLabel* m_message;
};
