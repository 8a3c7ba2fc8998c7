#include "ServerTestUtil.h"

#include <QDirIterator>
#include <QFileInfo>

namespace {

class CorpusCompactionTest : public TznServerTest {};

// Every corpus document that opens is compacted and saved: nothing crashes, no picture is
// lost, and python-docx reads every result it read the source of.
TEST_F(CorpusCompactionTest, EveryDocumentSurvivesCompaction)
{
    const QString corpus = CorpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus not available";
    int opened = 0, changed = 0;
    QDirIterator it(corpus, {QStringLiteral("*.docx"), QStringLiteral("*.docm"), QStringLiteral("*.dotx"), QStringLiteral("*.dotm")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        SCOPED_TRACE(file.toStdString());
        const QString source = CopyCorpus(QDir(corpus).relativeFilePath(file));
        TznVariant doc;
        try {
            doc = Open(source);
        } catch (const EznError&) {
            continue; // the failure kinds are tested on their own
        }
        ++opened;
        const TznVariant inl = OleGet(doc, QStringLiteral("InlineShapes"));
        const TznVariant shapes = OleGet(doc, QStringLiteral("Shapes"));
        const int before = OleGet(inl, QStringLiteral("Count")).ToInt() + OleGet(shapes, QStringLiteral("Count")).ToInt();
        const int n = CompactLikeTheConverter(FApp, doc);
        const int after = OleGet(inl, QStringLiteral("Count")).ToInt() + OleGet(shapes, QStringLiteral("Count")).ToInt();
        EXPECT_EQ(after, before);
        const QString out = PathOf(QStringLiteral("out.") + QFileInfo(source).suffix());
        ASSERT_NO_THROW(OleCall(doc, QStringLiteral("SaveAs"), {out}));
        OleCall(doc, QStringLiteral("Close"), {false});
        EXPECT_NO_THROW(Open(out));
        if (n > 0) {
            ++changed;
            QString err;
            if (PythonDocxOpens(source))
                EXPECT_TRUE(PythonDocxOpens(out, &err)) << err.toStdString();
        }
        QFile::remove(source);
        QFile::remove(out);
    }
    EXPECT_GT(opened, 50);
    EXPECT_GT(changed, 10);
}

} // namespace
