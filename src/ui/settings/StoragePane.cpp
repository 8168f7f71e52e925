#include "ui/settings/StoragePane.h"

#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "platform/FileManager.h"
#include "ui/settings/Hint.h"
#include "ui/settings/PaneForm.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QUuid>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
QSet<QUuid> clipIds(const ClipStore& store) {
    QSet<QUuid> ids;
    for (const Clip& clip : store.pinned())
        ids.insert(clip.id());
    for (const Clip& clip : store.history())
        ids.insert(clip.id());
    return ids;
}

QLabel* valueLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QString clips(qsizetype n) {
    return QString::number(n) + (n == 1 ? u" clip"_s : u" clips"_s);
}
} // namespace

StoragePane::StoragePane(Preferences& prefs, ClipStore& store, FileManager& files, QWidget* parent)
    : QWidget(parent), m_prefs(prefs), m_store(store), m_files(files), m_pinned(valueLabel(this)),
      m_history(valueLabel(this)), m_size(valueLabel(this)), m_location(valueLabel(this)),
      m_message(new QLabel(this)) {
    chooseExportPath = [this] {
        return QFileDialog::getSaveFileName(window(), u"Export"_s,
                                            QDir::home().filePath(u"Tindrel-backup.json"_s),
                                            u"JSON (*.json)"_s);
    };
    chooseImportPath = [this] {
        return QFileDialog::getOpenFileName(window(), u"Import"_s, QDir::homePath(),
                                            u"JSON (*.json)"_s);
    };
    confirmClear = [this](const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Warning, u"Tindrel"_s, title, QMessageBox::NoButton, window());
        box.setInformativeText(text);
        QPushButton* clear = box.addButton(u"Clear"_s, QMessageBox::AcceptRole);
        box.addButton(u"Cancel"_s, QMessageBox::RejectRole);
        box.setDefaultButton(clear);
        box.exec();
        return box.clickedButton() == clear;
    };

    PaneForm form(this, prefs);
    QFormLayout* current = form.section(u"Current data"_s);
    current->addRow(u"Pinned"_s, m_pinned);
    current->addRow(u"History"_s, m_history);
    current->addRow(u"On disk"_s, m_size);
    auto* where = new QWidget(this);
    auto* whereRow = new QHBoxLayout(where);
    whereRow->setContentsMargins(0, 0, 0, 0);
    m_location->setWordWrap(true);
    auto* reveal = new QPushButton(u"Show in File Manager"_s, where);
    connect(reveal, &QPushButton::clicked, this, &StoragePane::revealStore);
    whereRow->addWidget(m_location, 1);
    whereRow->addWidget(reveal, 0, Qt::AlignTop);
    current->addRow(u"Location"_s, where);

    QFormLayout* backup = form.section(u"Backup"_s);
    auto* backupButtons = new QHBoxLayout;
    auto* exportButton = new QPushButton(u"Export…"_s, this);
    auto* importButton = new QPushButton(u"Import…"_s, this);
    connect(exportButton, &QPushButton::clicked, this, &StoragePane::exportClips);
    connect(importButton, &QPushButton::clicked, this, &StoragePane::importClips);
    backupButtons->addWidget(exportButton);
    backupButtons->addWidget(importButton);
    backupButtons->addStretch(1);
    backup->addRow(backupButtons);
    form.hint(backup, u"Export writes a JSON file with both pinned and recent clips. Import "
                      "merges — it never overwrites what you already have."_s);

    QFormLayout* danger = form.section(u"Danger zone"_s);
    auto* dangerButtons = new QHBoxLayout;
    auto* clearHistoryButton = new QPushButton(u"Clear History"_s, this);
    auto* clearPinnedButton = new QPushButton(u"Clear Pinned"_s, this);
    QPalette destructive = clearPinnedButton->palette();
    destructive.setColor(QPalette::ButtonText, QColor(0xd7, 0x30, 0x27));
    clearPinnedButton->setPalette(destructive);
    connect(clearHistoryButton, &QPushButton::clicked, this, &StoragePane::clearHistory);
    connect(clearPinnedButton, &QPushButton::clicked, this, &StoragePane::clearPinned);
    dangerButtons->addWidget(clearHistoryButton);
    dangerButtons->addWidget(clearPinnedButton);
    dangerButtons->addStretch(1);
    danger->addRow(dangerButtons);
    form.hint(danger, u"Clearing history always leaves pinned clips untouched."_s);

    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setForegroundRole(QPalette::PlaceholderText);
    layout()->addWidget(m_message);
    form.finish();

    refresh();
    connect(&store, &ClipStore::pinnedChanged, this, &StoragePane::refresh);
    connect(&store, &ClipStore::historyChanged, this, &StoragePane::refresh);
    connect(&store, &ClipStore::saveFinished, this, &StoragePane::refresh);
    connect(&prefs, &Preferences::pinLimitChanged, this, &StoragePane::refresh);
    connect(&prefs, &Preferences::historyLimitChanged, this, &StoragePane::refresh);
}

void StoragePane::refresh() {
    m_pinned->setText(QString::number(m_store.pinned().size()) + u" of "_s +
                      QString::number(m_prefs.pinLimit()));
    m_history->setText(QString::number(m_store.history().size()) + u" of "_s +
                       QString::number(m_prefs.historyLimit()));
    m_size->setText(QLocale().formattedDataSize(m_store.storeSizeOnDisk()));
    m_location->setText(QDir::toNativeSeparators(m_store.storePath()));
}

QString StoragePane::message() const {
    return m_message->text();
}

void StoragePane::setMessage(const QString& text) {
    m_message->setText(text);
}

bool StoragePane::confirm(const QString& title, const QString& text) {
    return !m_prefs.confirmClear() || confirmClear(title, text);
}

void StoragePane::exportClips() {
    const QString path = chooseExportPath();
    if (path.isEmpty())
        return;
    const auto written = m_store.exportClips(path);
    if (!written) {
        setMessage(u"Export failed: "_s + written.error().description);
        return;
    }
    setMessage(u"Exported "_s + clips(m_store.pinned().size() + m_store.history().size()) + u"."_s);
}

// Counted by identity rather than as the change of the total: when the
// history limit pushes clips out, the total can fall although clips came in.
void StoragePane::importClips() {
    const QString path = chooseImportPath();
    if (path.isEmpty())
        return;
    const QSet<QUuid> before = clipIds(m_store);
    const auto imported = m_store.importClips(path);
    if (!imported) {
        setMessage(u"Import failed: "_s + imported.error().description);
        return;
    }
    const QSet<QUuid> after = clipIds(m_store);
    setMessage(importMessage(QSet<QUuid>(after).subtract(before).size(),
                             QSet<QUuid>(before).subtract(after).size()));
}

QString StoragePane::importMessage(qsizetype added, qsizetype pushedOut) {
    QString text =
        u"Imported "_s + QString::number(added) + (added == 1 ? u" new clip"_s : u" new clips"_s);
    if (pushedOut > 0)
        text += u"; "_s + QString::number(pushedOut) +
                (pushedOut == 1 ? u" older clip no longer fits the history limit"_s
                                : u" older clips no longer fit the history limit"_s);
    return text + u"."_s;
}

void StoragePane::clearHistory() {
    if (!confirm(u"Clear clipboard history?"_s,
                 QString::number(m_store.history().size()) +
                     u" recent clips will be removed. Pinned clips are kept."_s))
        return;
    m_store.setHistory({});
    m_store.scheduleSave();
    setMessage(u"History cleared."_s);
}

void StoragePane::clearPinned() {
    if (!confirm(u"Clear pinned clips?"_s, u"All "_s + QString::number(m_store.pinned().size()) +
                                               u" pinned clips will be permanently removed."_s))
        return;
    m_store.clearPinned();
    setMessage(u"Pinned clips cleared."_s);
}

void StoragePane::revealStore() {
    m_files.reveal(m_store.storePath());
}
