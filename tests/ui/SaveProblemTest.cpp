#include "PanelFixture.h"

#include "ui/panel/SaveProblemLine.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

// A save that fails keeps the clips in memory; the panel says so until a
// save succeeds again.
TEST_F(PanelFixture, AFailedSaveShowsALineAboveTheFooterUntilASaveSucceeds) {
    // A folder with something in it where the file should be: the write
    // cannot replace it, whoever runs the test.
    const QString storePath = dir.filePath(u"store.json"_s);
    ASSERT_TRUE(QDir().mkpath(storePath + u"/occupied"_s));
    fill({}, {u"kept in memory"_s});
    open();
    auto* line = content().findChild<SaveProblemLine*>();
    ASSERT_NE(line, nullptr);
    EXPECT_FALSE(line->isVisibleTo(&content()));

    ASSERT_FALSE(store.save());
    ASSERT_TRUE(store.saveError());
    EXPECT_TRUE(line->isVisibleTo(&content()));
    EXPECT_EQ(line->text(), u"Clips not saved: "_s + *store.saveError());
    EXPECT_EQ(line->textFormat(), Qt::PlainText);

    ASSERT_TRUE(QDir(storePath).removeRecursively());
    ASSERT_TRUE(store.save());
    EXPECT_FALSE(line->isVisibleTo(&content()));
}
