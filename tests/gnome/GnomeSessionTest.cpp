#include "GnomeSession.h"

#include <QFile>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {
// Whether a line the client printed contains `text`, within a few seconds.
bool said(QProcess& process, QByteArray& out, const QByteArray& text) {
    return waitUntil([&] {
        out += process.readAllStandardOutput();
        return out.contains(text);
    });
}
} // namespace

class GnomeSessionTest : public GnomeTest {};

// The session the other cases stand on: a new window of either kind takes
// the keyboard focus, and keys pressed on the fixture's keyboard reach it.
TEST_F(GnomeSessionTest, KeysReachTheNewWindowOfEitherKind) {
    QByteArray out;
    QProcess& field =
        client(QStringLiteral(TINDREL_WAYLAND_TEXT_FIELD), {u"io.tindrel.TestField"_s});
    ASSERT_TRUE(said(field, out, "focused")) << out.toStdString() << shellLog().toStdString();
    ASSERT_TRUE(pressKeys(u"a"_s));
    EXPECT_TRUE(said(field, out, "text a")) << out.toStdString();

    QTemporaryDir dir;
    const QString saved = dir.filePath(u"editor.txt"_s);
    QByteArray editorOut;
    // Through XWayland: Qt would take the Wayland socket it finds.
    QProcess& editor = clients.emplace_back();
    QProcessEnvironment env = session.environment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
    editor.setProcessEnvironment(env);
    editor.start(QStringLiteral(TINDREL_X11_HELPER), {u"editor"_s, saved});
    ASSERT_TRUE(said(editor, editorOut, "ready")) << editor.readAllStandardError().toStdString();
    ASSERT_TRUE(waitUntil([&] {
        // Shown is not yet focused: pressed again until the editor has it.
        if (!pressKeys(u"b"_s))
            return false;
        QFile file(saved);
        return file.open(QIODevice::ReadOnly) && file.readAll().contains('b');
    })) << shellLog().toStdString();
}
