#include "SettingsFixture.h"
#include "support/FakeKeySynth.h"

#include "ui/settings/AppearancePane.h"
#include "ui/settings/GeneralPane.h"
#include "ui/settings/HistoryPane.h"
#include "ui/settings/IgnoredAppsList.h"
#include "ui/settings/NumberField.h"
#include "ui/settings/PrivacyPane.h"

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {
NumberField* field(QWidget& pane, const QString& title) {
    for (NumberField* f : pane.findChildren<NumberField*>()) {
        if (f->title() == title)
            return f;
    }
    ADD_FAILURE() << "no field " << title.toStdString();
    return nullptr;
}

// Replaces the field's text as a user would, then ends the editing.
void type(NumberField& f, const QString& text, bool commit = true) {
    QSpinBox* edit = f.editor();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    if (commit)
        QTest::keyClick(edit, Qt::Key_Return);
}
} // namespace

TEST_F(SettingsFixture, OpensOnTheRememberedTabOrOnGeneral) {
    struct Case {
        QVariant stored;
        SettingsTab expected;
    };
    const Case cases[] = {
        {u"privacy"_s, SettingsTab::privacy},
        {u"Privacy"_s, SettingsTab::general},
        {u"nonsense"_s, SettingsTab::general},
        {QVariant(), SettingsTab::general},
    };
    for (const Case& c : cases) {
        settings.values.remove(u"lastSettingsTab"_s);
        if (c.stored.isValid())
            settings.values.insert(u"lastSettingsTab"_s, c.stored);
        SettingsWindow built(services());
        EXPECT_EQ(built.current(), c.expected) << c.stored.toString().toStdString();
    }

    window().select(SettingsTab::storage);
    EXPECT_EQ(settings.values.value(u"lastSettingsTab"_s), QVariant(u"storage"_s));
    SettingsWindow reopened(services());
    EXPECT_EQ(reopened.current(), SettingsTab::storage);
    EXPECT_EQ(reopened.windowTitle(), u"Tindrel Settings \u2014 Storage"_s);
}

// The tabs by keyboard as in the desktops' own settings windows, and a
// window of settings that apply at once closes on Esc or Ctrl+W.
TEST_F(SettingsFixture, TheKeyboardSwitchesTabsAndClosesTheWindow) {
    SettingsWindow& w = window();
    w.select(SettingsTab::general);
    showActive();
    struct Step {
        QKeyCombination keys;
        SettingsTab then;
    };
    const Step steps[] = {
        {Qt::CTRL | Qt::Key_Tab, SettingsTab::history},
        {Qt::CTRL | Qt::Key_PageDown, SettingsTab::shortcuts},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, SettingsTab::history},
        {Qt::CTRL | Qt::Key_PageUp, SettingsTab::general},
        {Qt::CTRL | Qt::Key_PageUp, SettingsTab::about},
        {Qt::CTRL | Qt::Key_Tab, SettingsTab::general},
        {Qt::ALT | Qt::Key_4, SettingsTab::sync},
    };
    for (const Step& step : steps) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w,
                        step.keys.key(), step.keys.keyboardModifiers());
        EXPECT_EQ(w.current(), step.then) << QKeySequence(step.keys).toString().toStdString();
    }
    EXPECT_EQ(w.windowTitle(), u"Tindrel Settings \u2014 Sync"_s);
    // The tabs are one Tab stop, the arrows move along them, and the next
    // Tab stop is the pane's first control.
    QToolButton* sync = nullptr;
    int stops = 0;
    for (QToolButton* tab : w.findChildren<QToolButton*>()) {
        if (!tab->defaultAction() || !tab->defaultAction()->isCheckable())
            continue;
        stops += (tab->focusPolicy() & Qt::TabFocus) != 0;
        if (tab->defaultAction()->isChecked())
            sync = tab;
    }
    EXPECT_EQ(stops, 1);
    ASSERT_NE(sync, nullptr);
    sync->setFocus(Qt::TabFocusReason);
    QTest::keyClick(sync, Qt::Key_Right);
    EXPECT_EQ(w.current(), SettingsTab::appearance);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->property("text").toString(), u"Appearance"_s);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
    EXPECT_EQ(w.current(), SettingsTab::sync);
    w.select(SettingsTab::general);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget()->property("text").toString(),
              u"Launch Tindrel at login"_s);

    for (const QKeyCombination closing : {QKeyCombination(Qt::Key_Escape), Qt::CTRL | Qt::Key_W}) {
        showActive();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w,
                        closing.key(), closing.keyboardModifiers());
        EXPECT_FALSE(w.isVisible()) << QKeySequence(closing).toString().toStdString();
    }
}

TEST_F(SettingsFixture, SwitchingTabsKeepsTheTopEdgeAndClosingOnlyHides) {
    SettingsWindow& w = window();
    w.showInFront();
    w.move(120, 90);
    QCoreApplication::processEvents();
    const int top = w.geometry().top();
    const int generalHeight = w.height();

    w.select(SettingsTab::sync);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.geometry().top(), top);
    EXPECT_EQ(w.height() - generalHeight, 640 - 380);

    w.select(SettingsTab::about);
    QCoreApplication::processEvents();
    EXPECT_EQ(w.geometry().top(), top);

    QWidget* about = w.pane(SettingsTab::about);
    // A refused close would also refuse the application's quit.
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
    w.showInFront();
    EXPECT_TRUE(w.isVisible());
    ASSERT_FALSE(workspace.activated.isEmpty());
    EXPECT_EQ(workspace.activated.last().window, w.winId()) << "not brought to the front";
    EXPECT_EQ(w.current(), SettingsTab::about);
    EXPECT_EQ(w.pane(SettingsTab::about), about) << "the pane was built again";
}

TEST_F(SettingsFixture, NumberFieldsApplyWhenEditingEndsAndSayTheirRangeInsteadOfClamping) {
    auto& history = pane<HistoryPane>(SettingsTab::history);
    showActive();
    NumberField* remember = field(history, u"Remember"_s);
    ASSERT_NE(remember, nullptr);

    // Typing 800 must never pass through 8 (which would trim to 10 clips).
    QSignalSpy assigned(&prefs, &Preferences::historyLimitChanged);
    type(*remember, u"800"_s, false);
    EXPECT_EQ(assigned.count(), 0);
    EXPECT_EQ(prefs.historyLimit(), 100);
    QTest::keyClick(remember->editor(), Qt::Key_Return);
    EXPECT_EQ(assigned.count(), 1);
    EXPECT_EQ(prefs.historyLimit(), 800);
    EXPECT_EQ(remember->problem(), QString());

    // Outside the range nothing changes, Display included, and the field
    // says what it takes.
    const int display = prefs.displayLimit();
    struct Case {
        const char* title;
        QString typed;
        int (Preferences::*get)() const;
        QString says;
    };
    const Case cases[] = {
        {"Remember", u"5000"_s, &Preferences::historyLimit, u"Enter 10 to 1000"_s},
        {"Remember", u"0"_s, &Preferences::historyLimit, u"Enter 10 to 1000"_s},
        {"Maximum pinned", u"99"_s, &Preferences::pinLimit, u"Enter 1 to 20"_s},
        {"Skip clips longer than", u"2000000"_s, &Preferences::maxClipLength,
         u"Enter 0 to 1000000"_s},
    };
    for (const Case& c : cases) {
        NumberField* f = field(history, QString::fromLatin1(c.title));
        ASSERT_NE(f, nullptr);
        const int before = (prefs.*c.get)();
        type(*f, c.typed);
        QCoreApplication::processEvents();
        EXPECT_EQ((prefs.*c.get)(), before) << c.title << " " << c.typed.toStdString();
        EXPECT_EQ(f->value(), before) << c.title;
        EXPECT_EQ(f->editor()->text(), QString::number(before)) << c.title;
        EXPECT_EQ(f->problem(), c.says) << c.title;
    }
    EXPECT_EQ(prefs.displayLimit(), display);
    // A number in range clears what was said.
    type(*remember, u"300"_s);
    EXPECT_EQ(prefs.historyLimit(), 300);
    EXPECT_EQ(remember->problem(), QString());

    // Focus leaving ends the editing too.
    type(*remember, u"250"_s, false);
    field(history, u"Display"_s)->editor()->setFocus();
    QCoreApplication::processEvents();
    EXPECT_EQ(prefs.historyLimit(), 250);
}

TEST_F(SettingsFixture, LoweringRememberLowersDisplayAndItsRange) {
    auto& history = pane<HistoryPane>(SettingsTab::history);
    window().show();
    NumberField* display = field(history, u"Display"_s);
    type(*field(history, u"Display"_s), u"60"_s);
    ASSERT_EQ(prefs.displayLimit(), 60);

    type(*field(history, u"Remember"_s), u"40"_s);
    EXPECT_EQ(prefs.displayLimit(), 40);
    EXPECT_EQ(display->value(), 40);
    EXPECT_EQ(display->maximum(), 40);
    EXPECT_EQ(hintStartingWith(history, u"The panel lists"_s)->text(),
              u"The panel lists the 40 most recent of 40 remembered. Searching still reaches "
              "all 40 — pinned clips are always shown."_s);

    type(*display, u"300"_s);
    EXPECT_EQ(prefs.displayLimit(), 40);
}

TEST_F(SettingsFixture, HistoryHintsFollowPinsAndLengthLimit) {
    fill({u"one"_s, u"two"_s, u"three"_s}, {});
    auto& history = pane<HistoryPane>(SettingsTab::history);
    Hint* overLimit = hintStartingWith(history, u"You currently have"_s);
    Hint* noLimit = hintStartingWith(history, u"0 = no length limit."_s);
    ASSERT_TRUE(overLimit && noLimit);

    EXPECT_FALSE(overLimit->isVisibleTo(&history));
    prefs.setPinLimit(2);
    EXPECT_TRUE(overLimit->isVisibleTo(&history));
    EXPECT_EQ(overLimit->text(), u"You currently have 3 pinned. Existing pins are kept — you just "
                                 "can't add more until you're under the limit."_s);
    EXPECT_EQ(store.pinned().size(), 3) << "a lower limit removed pins";
    store.unpin(store.pinned().front());
    EXPECT_FALSE(overLimit->isVisibleTo(&history));

    EXPECT_TRUE(noLimit->isVisibleTo(&history));
    prefs.setMaxClipLength(5000);
    EXPECT_FALSE(noLimit->isVisibleTo(&history));
    prefs.setMaxClipLength(0);
    EXPECT_TRUE(noLimit->isVisibleTo(&history));
}

TEST_F(SettingsFixture, ChoosingAPanelWidthUndoesADraggedWidth) {
    auto& appearance = pane<AppearancePane>(SettingsTab::appearance);
    prefs.setPanelCustomWidth(512);
    QComboBox* width = nullptr;
    for (QComboBox* box : appearance.findChildren<QComboBox*>()) {
        if (box->itemText(0) == u"Narrow (320 px)"_s)
            width = box;
    }
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->currentText(), u"Standard (380 px)"_s);

    // The preset already chosen counts too: the user asks for it again.
    Q_EMIT width->activated(width->currentIndex());
    EXPECT_EQ(prefs.panelCustomWidth(), 0);
    EXPECT_EQ(prefs.resolvedPanelWidth(), 380);

    Q_EMIT width->activated(2);
    EXPECT_EQ(prefs.panelWidth(), PanelWidthOption::wide);
    prefs.setPanelWidth(PanelWidthOption::narrow);
    EXPECT_EQ(width->currentText(), u"Narrow (320 px)"_s);

    Hint* hidden = hintStartingWith(appearance, u"With the icon hidden"_s);
    ASSERT_NE(hidden, nullptr);
    EXPECT_FALSE(hidden->isVisibleTo(&appearance));
    prefs.setShowMenuBarIcon(false);
    EXPECT_TRUE(hidden->isVisibleTo(&appearance));
}

TEST_F(SettingsFixture, IgnoredAppsSayWhenTheDesktopHidesTheAppInFront) {
    for (const bool sees : {true, false}) {
        SCOPED_TRACE(sees);
        workspace.seesFront = sees;
        PrivacyPane privacy(prefs, workspace);
        EXPECT_EQ(hintStartingWith(privacy, u"This desktop does not tell Tindrel"_s) != nullptr,
                  !sees);
    }
    // Where something would let it, the hint says what.
    workspace.howToSee = u"Tindrel's GNOME Shell extension is not installed"_s;
    PrivacyPane privacy(prefs, workspace);
    Hint* hint = hintStartingWith(privacy, u"This desktop does not tell Tindrel"_s);
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->text().endsWith(u"(Tindrel's GNOME Shell extension is not installed)"_s))
        << hint->text().toStdString();
}

TEST_F(SettingsFixture, AutoPastePermissionSaysOnlyWhatTheDesktopGave) {
    FakeKeySynth paster;
    const std::pair<PastePermission, QString> cases[] = {
        {PastePermission::notAsked, u"Not asked yet"_s},
        {PastePermission::asking, u"Waiting for the desktop"_s},
        {PastePermission::granted, u"Granted by the desktop"_s},
        {PastePermission::refused, u"Refused"_s},
        {PastePermission::unavailable, u"Not available"_s},
    };
    for (const auto& [grant, words] : cases) {
        SCOPED_TRACE(words.toStdString());
        paster.grant = grant;
        // Where the desktop asks, the session's trust is not the answer.
        workspace.trusted = true;
        PrivacyPane privacy(prefs, workspace, &paster);
        EXPECT_TRUE(privacy.permissionText().startsWith(words))
            << privacy.permissionText().toStdString();
    }
    // The answer that came while the pane was hidden shows when it is shown.
    paster.grant = PastePermission::asking;
    PrivacyPane privacy(prefs, workspace, &paster);
    paster.grant = PastePermission::granted;
    privacy.show();
    EXPECT_EQ(privacy.permissionText(), u"Granted by the desktop"_s);
    auto* askAgain = findButton(privacy, u"Ask Again"_s);
    ASSERT_NE(askAgain, nullptr);
    EXPECT_FALSE(askAgain->isVisible()) << "nothing to ask while granted";

    // A refusal can be taken back without a restart; the answer shows as
    // it comes, the pane open.
    ASSERT_TRUE(paster.onPermissionChanged) << "the pane does not follow the desktop's answers";
    paster.grant = PastePermission::refused;
    paster.onPermissionChanged();
    EXPECT_TRUE(QTest::qWaitFor([&] { return askAgain->isVisible(); }, 3000));
    QTest::mouseClick(askAgain, Qt::LeftButton);
    EXPECT_EQ(paster.askedAgain, 1);
    paster.grant = PastePermission::granted;
    paster.onPermissionChanged();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return privacy.permissionText() == u"Granted by the desktop"_s; }, 3000));
    EXPECT_FALSE(askAgain->isVisible());
}

// The pasting hint claims only what this desktop lets Tindrel do.
TEST_F(SettingsFixture, PastingHintSaysWhereAClickPastes) {
    FakeKeySynth paster;
    struct Case {
        bool trusted;
        PastePermission grant;
        QString says;
    };
    const Case cases[] = {
        {true, PastePermission::notNeeded,
         u"Tindrel returns focus to your previous app and presses Ctrl+V."_s},
        {false, PastePermission::notNeeded,
         u"This desktop does not let Tindrel press Ctrl+V in other apps, so clicking only "
         "copies."_s},
        {true, PastePermission::notAsked, u"need the desktop's permission"_s},
        {true, PastePermission::granted, u"need the desktop's permission"_s},
        {true, PastePermission::refused, u"in the others, clicking only copies."_s},
        {true, PastePermission::unavailable, u"in the others, clicking only copies."_s},
    };
    prefs.setPasteOnClick(true);
    for (const Case& c : cases) {
        workspace.trusted = c.trusted;
        paster.grant = c.grant;
        GeneralPane general(prefs, &workspace, &paster);
        Hint* hint = hintStartingWith(general, u"Tindrel returns"_s);
        if (!hint)
            hint = hintStartingWith(general, u"This desktop"_s);
        ASSERT_NE(hint, nullptr) << c.says.toStdString();
        EXPECT_TRUE(hint->text().contains(c.says)) << hint->text().toStdString();
        // Nothing names a session type the desktop may not be.
        EXPECT_FALSE(hint->text().contains(u"Wayland"_s)) << hint->text().toStdString();
    }
}

TEST_F(SettingsFixture, IgnoredAppsAddOnceAndKeepUninstalledOnes) {
    workspace.apps = {{u"org.keepassxc.KeePassXC"_s, u"KeePassXC"_s, {}},
                      {u"firefox-esr"_s, u"Firefox ESR"_s, {}}};
    prefs.setIgnoredApps({u"firefox-esr"_s, u"gone.App"_s});
    IgnoredAppsList* list = pane<PrivacyPane>(SettingsTab::privacy).ignoredApps();
    list->chooseApps = [](const QList<InstalledApp>&) {
        return QStringList{u"org.keepassxc.KeePassXC"_s, u"firefox-esr"_s,
                           u"org.keepassxc.KeePassXC"_s};
    };

    list->addApps();
    EXPECT_EQ(prefs.ignoredApps(),
              (QStringList{u"firefox-esr"_s, u"gone.App"_s, u"org.keepassxc.KeePassXC"_s}));

    // An application no longer installed still shows, by its id.
    QListWidget* rows = list->list();
    ASSERT_EQ(rows->count(), 3);
    QStringList names;
    for (int i = 0; i < rows->count(); ++i)
        names << rows->itemWidget(rows->item(i))->findChildren<QLabel*>().at(1)->text();
    EXPECT_EQ(names, (QStringList{u"Firefox ESR"_s, u"gone.App"_s, u"KeePassXC"_s}));

    list->removeSelected();
    EXPECT_EQ(prefs.ignoredApps().size(), 3) << "removed without a selection";
    rows->setCurrentRow(1);
    list->removeSelected();
    EXPECT_EQ(prefs.ignoredApps(), (QStringList{u"firefox-esr"_s, u"org.keepassxc.KeePassXC"_s}));

    list->chooseApps = [](const QList<InstalledApp>&) { return QStringList(); };
    list->addApps();
    EXPECT_EQ(prefs.ignoredApps().size(), 2);
}

// The period the clipboard is read at is a setting only where it is read
// on a timer; where it reports each change there is nothing to set.
TEST_F(SettingsFixture, ThePollingPeriodShowsOnlyWhereTheClipboardIsPolled) {
    for (const bool polls : {true, false}) {
        HistoryPane history(prefs, store, polls);
        EXPECT_EQ(history.findChildren<QSlider*>().size(), polls ? 1 : 0) << polls;
        EXPECT_EQ(hintStartingWith(history, u"Tindrel checks the clipboard on a timer"_s) !=
                      nullptr,
                  polls);
    }
}
