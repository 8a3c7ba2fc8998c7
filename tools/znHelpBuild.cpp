// Renders a Markdown manual to a PDF file: lp_helpbuild <manual.md> <out.pdf>.
// Runs at build time, on the offscreen platform.

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <cstdio>

namespace {

// Markdown tables come without borders; a thin grid makes the option table readable.
void styleTables(QTextDocument& doc)
{
    for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
        auto* table = qobject_cast<QTextTable*>(frame);
        if (!table)
            continue;
        QTextTableFormat format = table->format();
        format.setBorder(0.5);
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setBorderBrush(QColor(150, 150, 150));
        format.setBorderCollapse(true);
        format.setCellPadding(3);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        // The option table: room for the longest key on one line.
        if (table->columns() == 4)
            format.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 28),
                                              QTextLength(QTextLength::PercentageLength, 12),
                                              QTextLength(QTextLength::PercentageLength, 10),
                                              QTextLength(QTextLength::PercentageLength, 50)});
        table->setFormat(format);
    }
}

// Code in the text is set a little smaller than the prose around it, so that
// option names fit their table column.
void shrinkCode(QTextDocument& doc, qreal pointSize)
{
    const QString fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (!format.fontFixedPitch() && format.font().family() != fixed)
                continue;
            QTextCursor cursor(&doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            QTextCharFormat smaller;
            smaller.setFontPointSize(pointSize);
            cursor.mergeCharFormat(smaller);
        }
    }
}

int fail(const char* what, const QString& path)
{
    std::fprintf(stderr, "lp_helpbuild: %s: %s\n", what, qPrintable(path));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: lp_helpbuild <manual.md> <out.pdf>\n");
        return 2;
    }
    const QString input = QString::fromLocal8Bit(argv[1]);
    const QString output = QString::fromLocal8Bit(argv[2]);
    QFile source(input);
    if (!source.open(QIODevice::ReadOnly))
        return fail("cannot read", input);
    const QString markdown = QString::fromUtf8(source.readAll());

    QTextDocument doc;
    QFont font;
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(9.5);
    doc.setDefaultFont(font);
    doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
    styleTables(doc);
    shrinkCode(doc, 9);

    // Written beside the target first, so a failed run never leaves half a file.
    const QString partial = output + QStringLiteral(".part");
    {
        QPdfWriter writer(partial);
        writer.setTitle(QStringLiteral("Leafpress Compactor"));
        writer.setCreator(QStringLiteral("Leafpress Compactor"));
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(18, 18, 18, 18), QPageLayout::Millimeter));
        doc.print(&writer);
    }
    QFile::remove(output);
    if (!QFile::rename(partial, output))
        return fail("cannot write", output);
    return 0;
}
