#include "ServerTestUtil.h"

#include <QDirIterator>
#include <QFileInfo>

namespace {

// Drives the server as the converter does: from the last item down, each visit guarded.
int CompactCollection(const TznVariant& app, const TznVariant& collection, int pictureType)
{
    int reinserted = 0;
    for (int i = OleGet(collection, QStringLiteral("Count")).ToInt(); i >= 1; --i) {
        try {
            const TznVariant shape = OleCall(collection, QStringLiteral("Item"), {i});
            if (OleGet(shape, QStringLiteral("Type")).ToInt() != pictureType
                || OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble() >= 100
                || OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble() >= 100)
                continue;
            OleCall(shape, QStringLiteral("Select"));
            OleCall(OleGet(app, QStringLiteral("Selection")), QStringLiteral("Copy"));
            OleCall(shape, QStringLiteral("Delete"));
            OleCall(OleGet(app, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"), {0, 0, 0, 0, 13});
            ++reinserted;
        } catch (const EznError&) {
        }
    }
    return reinserted;
}

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
        int n = CompactCollection(FApp, inl, 3);
        n += CompactCollection(FApp, shapes, 13);
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
