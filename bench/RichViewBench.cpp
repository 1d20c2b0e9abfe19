// Cost of drawing one more row of a list viewer, with few and with many rows already drawn.
#include "platform/RichView.h"
#include "views/CustomView.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTextDocument>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

using namespace quillet;

// A row like a status: author line, two text paragraphs with a link, a button row, a time line.
void FillRow(TRVDocument& cell, int row) {
    cell.AddText(QStringLiteral("author %1").arg(row), tsHeader, psMain, std::string("header_1"));
    cell.AddText(QStringLiteral("Some status text that wraps over a line or two in a narrow "
                                "viewer, with a link after it "),
                 tsText, psMain);
    cell.AddText(QStringLiteral("http://example.org/%1").arg(row), tsLink, -1,
                 std::string("url_x"));
    cell.AddText(QStringLiteral("评论(3)"), tsButton, psButtonMain, std::string("1_0"));
    cell.AddText(QStringLiteral(" | "), tsButtonSep, -1);
    cell.AddText(QStringLiteral("转发"), tsButton, -1, std::string("2_0"));
    cell.AddText(QStringLiteral("10月20日 19:34:56来自 web"), tsText, psMain);
}

void AppendRow(TRichView& view, TRVTableItem& table) {
    const int row = table.RowCount() - 1;
    table.InsertRows(row, 1);
    FillRow(table.Cell(row, 0), row);
    view.Reformat();
    // Lay the document out as painting would need it.
    view.document()->documentLayout()->documentSize();
}

void BM_AppendRow(benchmark::State& state) {
    TRVStyle style = BaseViewerStyle();
    TRichView view;
    view.resize(480, 640);
    view.SetStyle(&style);
    TRVTableItem* table = nullptr;
    const auto reset = [&] {
        view.Clear();
        table =
            view.Document().AddTable(QStringLiteral("TABLE"), std::make_unique<TRVTableItem>(1));
        view.Format();
        for (int i = 0; i < state.range(0); ++i)
            AppendRow(view, *table);
    };
    reset();
    int added = 0;
    for (auto _ : state) {
        AppendRow(view, *table);
        // Keep the row count near n so that each measurement is of the same size.
        if (++added == 50) {
            state.PauseTiming();
            reset();
            added = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_AppendRow)->Arg(10)->Arg(600)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
