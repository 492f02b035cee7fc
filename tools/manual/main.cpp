// powerlog-manual IN.md OUT.pdf: renders the user manual's Markdown into the PDF that the tray
// menu's Help opens. A build helper: it needs fonts and a paint device, never a display.

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStringList>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextStream>
#include <QTextTable>

#include <optional>
#include <utility>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 64;

constexpr int kResolutionDpi = 300;
constexpr qreal kMarginMm = 15;
constexpr qreal kBodyPointSize = 10;
constexpr qreal kFooterPointSize = 8;
// Room below the text for the page number, in points.
constexpr qreal kFooterHeightPt = 24;

const QString kFontFamily = QStringLiteral("DejaVu Sans");
const QString kTitle = QStringLiteral("Powerlog");

void complain(const QString& text)
{
    QTextStream(stderr) << "powerlog-manual: " << text << Qt::endl;
}

QFont fontOf(qreal pointSize)
{
    QFont font(kFontFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    return font;
}

struct HeadingStyle
{
    qreal pointSize;
    qreal spaceAbove; // in 1/96 inch, the unit of block margins
};

// By level 1 to 6. The importer only scales headings against the body font; print wants them
// clearly apart, with air above.
constexpr HeadingStyle kHeadingStyles[] = {{20, 0}, {15, 16}, {12, 12}, {11, 8}, {10, 6}, {10, 6}};
constexpr qreal kSpaceBelowHeading = 4;
constexpr qreal kSpaceAroundCode = 6;
constexpr qreal kCodeIndent = 12;
const QColor kCodeBackground(0xf2, 0xf2, 0xf2);
const QColor kTableRule(0xa0, 0xa0, 0xa0);
const QColor kTableHeaderBackground(0xe8, 0xe8, 0xe8);
constexpr qreal kTableCellPadding = 4;
constexpr qreal kSpaceAroundTable = 6;

std::optional<HeadingStyle> headingStyle(const QTextBlock& block)
{
    const int level = block.blockFormat().headingLevel();
    if (level < 1 || level > int(std::size(kHeadingStyles)))
        return std::nullopt;
    return kHeadingStyles[level - 1];
}

// Gives each run of a block the format `restyle` makes of its own. Ranges first: setting formats
// merges fragments under the iterator.
template <typename Restyle>
void restyleRuns(QTextDocument& document, const QTextBlock& block, Restyle restyle)
{
    QList<std::pair<QTextCursor, QTextCharFormat>> runs;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        QTextCursor run(&document);
        run.setPosition(fragment.position());
        run.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        QTextCharFormat format = fragment.charFormat();
        if (restyle(format))
            runs.append({run, format});
    }
    for (auto& [run, format] : runs)
        run.setCharFormat(format);
}

void styleHeading(QTextDocument& document, const QTextBlock& block, const HeadingStyle& style)
{
    QTextCursor cursor(block);
    QTextBlockFormat spacing;
    spacing.setTopMargin(style.spaceAbove);
    spacing.setBottomMargin(kSpaceBelowHeading);
    // Each part of the manual (a level-1 heading) opens a page of its own.
    if (block.blockFormat().headingLevel() == 1 && block != document.begin())
        spacing.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    cursor.mergeBlockFormat(spacing);

    // The importer's size adjustment would win over a point size.
    restyleRuns(document, block, [&style](QTextCharFormat& format) {
        format.clearProperty(QTextFormat::FontSizeAdjustment);
        format.setFontPointSize(style.pointSize);
        format.setFontWeight(QFont::Bold);
        return true;
    });
}

void styleCodeBlock(const QTextBlock& block)
{
    QTextBlockFormat code;
    code.setBackground(kCodeBackground);
    code.setLeftMargin(kCodeIndent);
    const bool followsCode =
        block.previous().isValid() && block.previous().blockFormat().nonBreakableLines();
    const bool codeContinues =
        block.next().isValid() && block.next().blockFormat().nonBreakableLines();
    code.setTopMargin(followsCode ? 0 : kSpaceAroundCode);
    code.setBottomMargin(codeContinues ? 0 : kSpaceAroundCode);
    QTextCursor(block).mergeBlockFormat(code);
}

// Tables as full-width grids of thin rules; the header row comes back on every page a table spans.
void styleTable(QTextTable& table)
{
    QTextTableFormat format = table.format();
    format.setBorderCollapse(true);
    format.setBorder(1);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderBrush(kTableRule);
    format.setCellSpacing(0);
    format.setCellPadding(kTableCellPadding);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    format.setTopMargin(kSpaceAroundTable / 2);
    format.setBottomMargin(kSpaceAroundTable);
    format.setHeaderRowCount(1);
    table.setFormat(format);
    for (int column = 0; column < table.columns(); ++column) {
        QTextTableCell cell = table.cellAt(0, column);
        QTextCharFormat header = cell.format();
        header.setBackground(kTableHeaderBackground);
        cell.setFormat(header);
    }
}

// A heading left last on a page moves to the next one, beside the text it introduces.
void keepHeadingsWithText(QTextDocument& document)
{
    const qreal pageHeight = document.pageSize().height();
    const QAbstractTextDocumentLayout* layout = document.documentLayout();
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const QTextBlock next = block.next();
        if (!headingStyle(block) || !next.isValid())
            continue;
        // Asking for a block's place lays the document out up to it.
        const QRectF nextPlace = layout->blockBoundingRect(next);
        if (next.layout()->lineCount() == 0)
            continue;
        const int headingPage = int(layout->blockBoundingRect(block).top() / pageHeight);
        const qreal nextLineBottom = nextPlace.top() + next.layout()->lineAt(0).rect().bottom();
        if (int(nextLineBottom / pageHeight) <= headingPage)
            continue;
        // Headings straight above it go along.
        QTextBlock first = block;
        while (first.previous().isValid() && headingStyle(first.previous()))
            first = first.previous();
        QTextBlockFormat breakBefore;
        breakBefore.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCursor(first).mergeBlockFormat(breakBefore);
    }
}

void styleDocument(QTextDocument& document)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (const auto style = headingStyle(block))
            styleHeading(document, block, *style);
        else if (block.blockFormat().nonBreakableLines())
            styleCodeBlock(block);
    }
    for (QTextFrame* frame : document.rootFrame()->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(frame))
            styleTable(*table);
    }
}

// The Markdown laid out on pages of the writer's printable area, less a strip for the footer.
class ManualPages
{
public:
    ManualPages(const QString& markdown, QPdfWriter& writer)
    {
        m_document.documentLayout()->setPaintDevice(&writer);
        m_document.setDefaultFont(fontOf(kBodyPointSize));
        m_document.setDocumentMargin(0);
        m_document.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
        styleDocument(m_document);

        m_footerHeight = kFooterHeightPt * writer.resolution() / 72.0;
        m_pageSize = QSizeF(writer.width(), writer.height());
        m_document.setPageSize(QSizeF(m_pageSize.width(), m_pageSize.height() - m_footerHeight));
        keepHeadingsWithText(m_document);
    }

    int count() const { return m_document.pageCount(); }

    // Page `index` (from 0) with its number "N / M" centred at the bottom.
    void paint(QPainter& painter, int index) const
    {
        const qreal textHeight = m_document.pageSize().height();
        painter.save();
        painter.translate(0, -index * textHeight);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = QRectF(0, index * textHeight, m_pageSize.width(), textHeight);
        painter.setClipRect(context.clip);
        m_document.documentLayout()->draw(&painter, context);
        painter.restore();

        painter.save();
        painter.setFont(fontOf(kFooterPointSize));
        painter.setPen(Qt::darkGray);
        const QRectF footer(0, m_pageSize.height() - m_footerHeight, m_pageSize.width(),
                            m_footerHeight);
        painter.drawText(footer, Qt::AlignHCenter | Qt::AlignBottom,
                         QStringLiteral("%1 / %2").arg(index + 1).arg(count()));
        painter.restore();
    }

private:
    QTextDocument m_document;
    QSizeF m_pageSize;
    qreal m_footerHeight = 0;
};

void setUpWriter(QPdfWriter& writer)
{
    writer.setTitle(kTitle);
    writer.setCreator(QStringLiteral("powerlog-manual"));
    writer.setResolution(kResolutionDpi);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                          QPageLayout::Millimeter);
}

// Writes the PDF through a save file, so a failed run never leaves a half-written manual.
bool writeManual(const QString& markdown, const QString& outputPath)
{
    QSaveFile output(outputPath);
    if (!output.open(QIODevice::WriteOnly)) {
        complain(QStringLiteral("cannot write %1: %2").arg(outputPath, output.errorString()));
        return false;
    }
    QPdfWriter writer(&output);
    setUpWriter(writer);
    const ManualPages pages(markdown, writer);

    QPainter painter;
    if (!painter.begin(&writer)) {
        complain(QStringLiteral("cannot start a PDF in %1").arg(outputPath));
        return false;
    }
    for (int index = 0; index < pages.count(); ++index) {
        if (index > 0)
            writer.newPage();
        pages.paint(painter, index);
    }
    painter.end();

    if (!output.commit()) {
        complain(QStringLiteral("cannot write %1: %2").arg(outputPath, output.errorString()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    // A build step runs without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() != 3) {
        complain(QStringLiteral("usage: powerlog-manual IN.md OUT.pdf"));
        return kExitUsage;
    }
    const QString inputPath = arguments.at(1);
    const QString outputPath = arguments.at(2);

    QFile input(inputPath);
    if (!input.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("cannot read %1: %2").arg(inputPath, input.errorString()));
        return kExitFailure;
    }
    const QString markdown = QString::fromUtf8(input.readAll());
    if (input.error() != QFileDevice::NoError) {
        complain(QStringLiteral("cannot read %1: %2").arg(inputPath, input.errorString()));
        return kExitFailure;
    }
    return writeManual(markdown, outputPath) ? 0 : kExitFailure;
}
