// CPU cost of the two operations the monitoring loop calls every second, over a Phone app whose
// interface is large enough to hit the 600-element cap, with no simulated latency: what is left is our
// own walking and label matching plus the Accessibility calls themselves.
#include "app/common/Clock.h"
#include "app/common/Scheduler.h"
#include "app/phone/PhoneAutomation.h"
#include "platform/sim/desktop/Desktop.h"
#include "platform/sim/desktop/PhoneApp.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>

namespace {

struct ScanDesktop {
    ManualClock clock;
    ManualScheduler scheduler{clock};
    sim::Desktop desktop{clock, scheduler};
    sim::PhoneApp phone{desktop};
    PhoneAutomation automation{desktop, desktop, clock};

    ScanDesktop()
    {
        // A long recent-calls list, full of buttons that are neither answer nor hang-up buttons.
        auto window = desktop.addFillerWindow(sim::PhoneApp::kPhoneBundle, 500, 10);
        for (int i = 0; i < 150; ++i)
            window->add(sim::AxNode::button(
                QStringLiteral("Rappeler %1").arg(i), [] { return ax::Error::Success; },
                ax::kDescriptionAttribute));
    }
};

ScanDesktop& scanDesktop()
{
    static ScanDesktop desktop;
    return desktop;
}

void incomingWithNoCall(benchmark::State& state)
{
    auto& sim = scanDesktop();
    for (auto _ : state)
        benchmark::DoNotOptimize(sim.automation.incoming());
}

void hasActiveCallWithNoCall(benchmark::State& state)
{
    auto& sim = scanDesktop();
    for (auto _ : state)
        benchmark::DoNotOptimize(sim.automation.hasActiveCall());
}

BENCHMARK(incomingWithNoCall)->Unit(benchmark::kMicrosecond);
BENCHMARK(hasActiveCallWithNoCall)->Unit(benchmark::kMicrosecond);

// Keeps the CPU seconds per iteration of each benchmark while printing as usual.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> cpuSecondsPerIteration;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.iterations > 0 && !run.error_occurred)
                cpuSecondsPerIteration[run.benchmark_name()] =
                    run.cpu_accumulated_time / double(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    // Elements walked per operation, to show the cap was reached.
    auto& sim = scanDesktop();
    sim.desktop.resetCounters();
    sim.automation.incoming();
    std::printf("requests per incoming() %d\n", sim.desktop.requestCount());

    // The worse of the two operations, as a share of the one-second budget of one operation.
    double worst = 0;
    for (const auto& [name, seconds] : reporter.cpuSecondsPerIteration)
        worst = std::max(worst, seconds / PhoneAutomation::kBudgetSeconds);
    std::printf("ratio phone_scan %.6f\n", worst);
    return 0;
}
