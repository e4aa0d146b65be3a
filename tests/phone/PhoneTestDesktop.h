#pragma once

#include "app/common/Clock.h"
#include "app/common/Scheduler.h"
#include "platform/sim/desktop/Desktop.h"
#include "platform/sim/desktop/PhoneApp.h"

// A simulated Mac on a manual clock: Accessibility requests spend clock time, never real time.
struct PhoneTestDesktop {
    ManualClock clock;
    ManualScheduler scheduler{clock};
    sim::Desktop desktop{clock, scheduler};
    sim::PhoneApp phone{desktop};

    // The labels of the call screens with `answer` as the answer button's label.
    sim::CallLabels labelsWithAnswer(const QString& answer) const
    {
        sim::CallLabels labels = phone.labels();
        labels.answer = answer;
        return labels;
    }
};
