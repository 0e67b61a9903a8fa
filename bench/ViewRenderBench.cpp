// The image view's re-render on the real widget, offscreen: a 3072 x 3072
// image in a 1920 x 1080 main window (the view about 1700 x 1050). The target
// is a full re-render after a window/level change (table build, conversion of
// the whole image, scaled draw of the visible part) within 16 ms, one frame
// at 60 Hz, so dragging the window stays fluid. Pans and zooms reuse the
// converted picture and only redraw.
#include "acquisition/VirtualClock.h"
#include "display/AppValues.h"
#include "ui/ChildView.h"
#include "ui/HistogramPanel.h"
#include "ui/MainWindow.h"
#include "ui/ViewerTools.h"

#include <QApplication>
#include <QMouseEvent>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>

namespace {

using namespace orvi;

constexpr int32_t kSide = 3072;
constexpr double kBudgetMs = 16.0;

// A detector-like picture: a gradient with a step wedge.
void LoadImage(CImageStore& store) {
    store.m_nWidth = store.m_nHeight = kSide;
    store.m_pDisplay.resize(size_t(kSide) * kSide);
    for (int32_t r = 0; r < kSide; ++r)
        for (int32_t c = 0; c < kSide; ++c)
            store.m_pDisplay[size_t(r) * kSide + size_t(c)] =
                uint16_t((r > kSide / 3 && r < kSide * 2 / 3) ? 1000 + 1400 * (c * 10 / kSide) : 2000 + 3 * c + r);
    store.m_pFrame1 = store.m_pFrame2 = store.m_pDisplay;
    store.m_nDispWidth = store.m_nDispHeight = kSide;
    store.m_bNewImage = 1;
}

struct Station {
    CAppValues app;
    CVirtualClock clock;
    std::unique_ptr<CMainWindow> pWindow;

    Station() {
        LoadImage(app.m_imageStore);
        pWindow = std::make_unique<CMainWindow>(app, clock);
        pWindow->resize(1920, 1080);
        pWindow->show();
        QApplication::processEvents();
        pWindow->View()->repaint();  // first paint: fit and convert
    }
    CChildView& View() { return *pWindow->View(); }
};

// Made on first use and destroyed by main before the application object:
// widgets must not outlive QApplication (a static one would, and crash at exit).
std::unique_ptr<Station> g_pStation;

Station& TheStation() {
    if (!g_pStation) g_pStation = std::make_unique<Station>();
    return *g_pStation;
}

void ReportBudget(benchmark::State& state) { state.counters["budget_ms"] = kBudgetMs; }

// Window/level changed (as a right-drag step does): table build, conversion
// of the whole image, scaled draw of the view.
void BM_RerenderAfterTableChange(benchmark::State& state) {
    Station& s = TheStation();
    CChildView& view = s.View();
    int i = 0;
    for (auto _ : state) {
        const int nWidth = (i++ & 1) ? 9000 : 8000;
        view.Lut().SetWindowLevel(nWidth, 6000);
        view.repaint();
    }
    state.counters["view_w"] = view.width();
    state.counters["view_h"] = view.height();
    ReportBudget(state);
}
BENCHMARK(BM_RerenderAfterTableChange)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The same image newly stored (a new exposure): conversion and draw.
void BM_RerenderNewImage(benchmark::State& state) {
    Station& s = TheStation();
    for (auto _ : state) {
        s.app.m_imageStore.m_bNewImage = 1;
        s.View().repaint();
    }
    ReportBudget(state);
}
BENCHMARK(BM_RerenderNewImage)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// A new exposure as the operator meets it, budget 25 ms: the exposed
// field's histogram, the automatic window from it (a table build), the
// conversion and draw of the view, and the histogram panel drawn anew.
void BM_NewImageAutoWindowAndHistogram(benchmark::State& state) {
    Station& s = TheStation();
    CChildView& view = s.View();
    CHistogramPlot* pPlot = s.pWindow->Viewer()->HistogramPanel()->Plot();
    view.SetAutoWindow(true);
    for (auto _ : state) {
        // The previous image's window, so the new one builds its table.
        view.Lut().SetWindowLevel(kDefaultWindowWidth, kDefaultWindowLevel);
        s.app.m_imageStore.m_bNewImage = 1;
        view.InvalidateView();
        view.repaint();
        pPlot->repaint();
    }
    state.counters["budget_ms"] = 25.0;
    state.counters["auto_w"] = view.Lut().m_fWidth;
}
BENCHMARK(BM_NewImageAutoWindowAndHistogram)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// A drag of the histogram's upper handle, one mouse move per step, budget
// 16 ms: new width and level, the panel's boxes, the table, the view's
// conversion and draw, and the histogram with its handles.
void BM_HistogramHandleDrag(benchmark::State& state) {
    Station& s = TheStation();
    CChildView& view = s.View();
    CHistogramPlot* pPlot = s.pWindow->Viewer()->HistogramPanel()->Plot();
    view.SetWindowLevel(6000, 6000);  // 3000 .. 9000
    view.repaint();
    const int x = int(pPlot->XOfValue(9000)), y = pPlot->height() / 2;
    auto send = [pPlot](QEvent::Type type, int nX, int nY, Qt::MouseButton button, Qt::MouseButtons buttons) {
        const QPointF pt(nX, nY);
        QMouseEvent ev(type, pt, pPlot->mapToGlobal(pt), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(pPlot, &ev);
    };
    send(QEvent::MouseButtonPress, x, y, Qt::LeftButton, Qt::LeftButton);
    int i = 0;
    for (auto _ : state) send(QEvent::MouseMove, x + ((i++ & 1) ? 20 : -20), y, Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton);
    ReportBudget(state);
}
BENCHMARK(BM_HistogramHandleDrag)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// Pan or zoom: the converted picture is only redrawn, fitted ...
void BM_RedrawFitted(benchmark::State& state) {
    Station& s = TheStation();
    for (auto _ : state) s.View().repaint();
    ReportBudget(state);
}
BENCHMARK(BM_RedrawFitted)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// ... and zoomed in to the limit (the picture about 9 x the image): the cost
// follows the window, not the zoom.
void BM_RedrawZoomedIn(benchmark::State& state) {
    Station& s = TheStation();
    CChildView& view = s.View();
    const QPoint ptCentre = view.mapToGlobal(view.rect().center());
    view.FitToWindow();
    for (int i = 0; i < 40; ++i) view.OnMouseWheel(120, ptCentre);  // stops at the limit
    for (auto _ : state) view.repaint();
    state.counters["disp_w"] = view.DispRect().nW;
    view.FitToWindow();
    ReportBudget(state);
}
BENCHMARK(BM_RedrawZoomedIn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The exposed field's histogram alone, full frame.
void BM_FieldHistogramOnly(benchmark::State& state) {
    Station& s = TheStation();
    auto pHist = std::make_unique<CHistogram>();
    for (auto _ : state) {
        ComputeFieldHistogram(s.app.m_imageStore.Display(), kSide, kSide, *pHist);
        benchmark::DoNotOptimize(pHist->nTotal);
    }
}
BENCHMARK(BM_FieldHistogramOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The conversion alone: one masked table read per pixel into the picture.
void BM_ConvertOnly(benchmark::State& state) {
    Station& s = TheStation();
    QImage image(kSide, kSide, QImage::Format_Grayscale8);
    for (auto _ : state) {
        s.View().Lut().Convert(s.app.m_imageStore.Display(), kSide, kSide, kSide, image.bits(),
                               size_t(image.bytesPerLine()));
        benchmark::DoNotOptimize(image.bits());
    }
}
BENCHMARK(BM_ConvertOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_pStation.reset();
    benchmark::Shutdown();
    return 0;
}
